// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/messages.h"
#include "veld/base/messages_menu.h"
#include "veld/base/messages_undo.h"

#include <atomic>
#include <cstdlib>
#include <string>

namespace veld {
namespace {

struct Entry {
  int id;
  std::string_view zh;
  std::string_view en;
};

// Chinese texts are those of the original program; the English twins render the same meaning.
constexpr Entry kCatalogue[] = {
    {kMsgNoBdmvFolder, "没有设置BDMV路径 ! ", "No BDMV folder set ! "},
    {kMsgNoImageFolder, "没有设置图片路径 ! ", "No image folder set ! "},
    {kMsgNoIgStream, "指定BDMV下,没有菜单流(IG) ! ", "The given BDMV has no menu stream (IG) ! "},
    {kMsgNoEditedImage, "%s\r\n没有已经修改过的的按钮图片 ! ", "%s\r\nholds no edited button images ! "},
    {kMsgAskCopyBack, "是否自动替换原来的蓝光文件 ! ", "Replace the existing Blu-ray files automatically ? "},
    {kMsgCopyBackFailed, "自动替换文件失败,请手工替换 ! ",
     "Automatic replacement of the files failed, please replace them by hand ! "},
    {kMsgExtractDone, "指定BDMV下,按钮图片提取成功 ! \r\n位于:%s",
     "The button images of the given BDMV were extracted ! \r\nLocated at: %s"},
    {kMsgReplaceDone,
     "指定BDMV下,按钮图片替换成功 ! \r\n新生成的m2ts,clpi,mpls位于%s\r\n请用它们替换原来的文件! ",
     "The button images of the given BDMV were replaced ! \r\nThe new m2ts, clpi and mpls files are in "
     "%s\r\nUse them to replace the original files! "},
    {kMsgCopyBackDone, "恭喜,菜单替换完成 ! 请用播放软件预览新的菜单。",
     "Congratulations, the menu replacement is done ! Preview the new menus with a player program."},
    {kStrParsing, "分析", "Parsing"},
    {kStrDemuxing, "分离", "Demuxing"},
    {kStrBuilding, "生成", "Building"},
    {kStrIndex, "索引", "Index"},
    {kStrMovieObject, "影片对象", "MovieObject"},
    {kStrPlaylists, "播放列表集", "Playlists"},
    {kStrClips, "素材集", "Clips"},
    {kStrPlaylist, "播放列表", "Playlist"},
    {kStrClip, "素材", "Clip"},
    {kMsgParseError, "分析文件出错:\n%s", "Error while analysing the file:\n%s"},
    {kMsgNoPlaylist, "没有找到播放列表(*.mpls)文件 ! ", "No playlist files (*.mpls) found ! "},
    {kMsgNoClipInfo, "没有找到素材信息(*.clpi)文件 ! ", "No clip information files (*.clpi) found ! "},
    {kMsgNoClipStream, "%s\n没有找到对应的素材(*.m2ts)文件", "%s\nThe matching clip stream file (*.m2ts) was not found"},
    {kMsgWrongM2ts, "错误的m2ts文件格式 ! ", "Wrong m2ts file format ! "},
    {kMsgNoIgs, "没有菜单流(IGS) ! ", "has no IGS (menu) ! "},
    {kMsgCannotCreate, "不能创建 %s ! ", "Can't create %s ! "},
    {kMsgFolderExists, "%s\n 已经存在,覆盖 ? ", "%s\n exists, overwrite ? "},
    {kMsgImageNotSupported, "%s\r\n不支持的图片格式 ! ", "%s\r\nnot support image file! "},
    {kMsgImageNot256, "%s\r\n不是256色图片 ! ", "%s\r\nMust be 256 color ! "},
    {kMsgImageSizeMismatch, "%s\r\n图片尺寸和按钮大小不一致 ! ", "%s\r\nImage size mismatch with button's size ! "},
    {kMsgPackEmpty, "错误:包为空 ! ", "Wrong: pack is empty ! "},
    {kMsgNotBdmvFolder, "%s\n不是BDMV文件夹(没有index.bdmv) ! ",
     "%s\nis not a BDMV folder (it has no index.bdmv) ! "},
    {kMsgNoSuchFolder, "%s\n文件夹不存在 ! ", "%s\nNo such folder ! "},
    {kMsgImageForeignColour, "%s\r\n使用了菜单调色板中没有的颜色 %s(首次出现于像素 %d, %d)! ",
     "%s\r\nuses the colour %s (first at pixel %d, %d), which is not in the menu's palette ! "},
    {kMsgImageForeignColourHelp,
     "%s\r\n使用了菜单调色板中没有的颜色 %s(首次出现于像素 %d, %d)! 可使用 --colours nearest"
     "(窗口中:在“设置”里选“取最接近的颜色”)取最接近的颜色,"
     "或用菜单自己的调色板作画(同一文件夹中的 %s)。",
     "%s\r\nuses the colour %s (first at pixel %d, %d), which is not in the menu's palette ! Use --colours nearest "
     "(in the window: Settings, \"take the nearest entry\") to take the nearest colour of the palette, "
     "or paint with the menu's own colours (%s in the same folder)."},
    {kMsgImageColoursMapped,
     "%s:%d 个像素的颜色不在菜单调色板中,已取最接近的颜色;最大差异 %.3f(OKLab),颜色 %s,像素 %d, %d。"
     "用 %s 作画可只用菜单自己的颜色。",
     "%s: %d pixels have colours that are not in the menu's palette and took the nearest entry; the largest "
     "difference is %.3f (OKLab), colour %s at pixel %d, %d. Paint with %s to use only the menu's own colours."},
    {kMsgImageColoursAmbiguous,
     "%s:%d 个像素(首个为像素 %d, %d,颜色 %s)对应调色板中只差透明度的多个颜色,已取最不透明的一个。"
     "保存为PNG可保留透明度。",
     "%s: %d pixels (the first at %d, %d, colour %s) match palette entries that differ only in transparency; "
     "the most opaque one was taken. Save the picture as PNG to keep its transparency."},
    {kMsgImageOutOfFrame,
     "%s\r\n图片为 %d x %d,原对象为 %d x %d:在按钮 %d(页 %d)的位置 %d, %d,超出了 %d x %d 的视频画面 ! "
     "此处图片最大为 %d x %d。",
     "%s\r\nis %d x %d pixels, the object was %d x %d: at the position of button %d (page %d), %d, %d, it "
     "leaves the %d x %d video frame ! Make the picture at most %d x %d there, or try the other --anchor."},
    {kMsgImageCropped,
     "%s\r\n图片为 %d x %d,原对象为 %d x %d,但页 %d 的效果裁剪该对象(窗口 %d:%d x %d,位于 %d, %d,对象位于 %d, %d)! "
     "请保持原尺寸。",
     "%s\r\nis %d x %d pixels, the object was %d x %d, but an effect of page %d crops the object (window %d: "
     "%d x %d at %d, %d, object at %d, %d) ! Keep the picture's size."},
    {kMsgImageOutOfWindow,
     "%s\r\n图片为 %d x %d,原对象为 %d x %d,超出页 %d 效果的窗口 %d(%d x %d,位于 %d, %d;对象位于 %d, %d)! "
     "请缩小图片或保持原尺寸。",
     "%s\r\nis %d x %d pixels, the object was %d x %d: it leaves the window of an effect of page %d (window %d: "
     "%d x %d at %d, %d, object at %d, %d) ! Make the picture smaller, or keep its size."},
    {kMsgImageObjectBuffer,
     "%s\r\n图片为 %d x %d:显示集的对象将需要 %d 字节,超出解码器 %d 字节的对象缓冲区 ! 请缩小图片(原对象为 %d x %d)。",
     "%s\r\nis %d x %d pixels: the objects of the display set would need %d bytes, more than the decoder's "
     "object buffer of %d bytes ! Make the picture smaller (the object was %d x %d)."},
    {kMsgImageDecodeTime,
     "%s\r\n图片为 %d x %d:显示集的对象将在菜单显示后 %d 个时钟(90 kHz)才解码完成(原为 %d)! "
     "请缩小图片(原对象为 %d x %d)。",
     "%s\r\nis %d x %d pixels: the objects of the display set would be decoded only %d ticks (90 kHz) after the "
     "menu is shown (before the edit: %d) ! Make the picture smaller (the object was %d x %d)."},
    {kMsgImageNoComposition,
     "%s\r\n图片为 %d x %d,原对象为 %d x %d,而显示集没有交互合成,无法放置 ! 请保持原尺寸。",
     "%s\r\nis %d x %d pixels, the object was %d x %d, and the display set has no composition to place it by ! "
     "Keep the picture's size."},
    {kMsgImageResized, "%s:对象尺寸改为 %d x %d(原为 %d x %d)。", "%s: the object is now %d x %d (it was %d x %d)."},
    {kMsgButtonMoved, "%s:按钮 %d(页 %d)由 %d, %d 移到 %d, %d,以保持其中心。",
     "%s: button %d of page %d moved from %d, %d to %d, %d to keep its centre."},
    {kMsgEffectObjectMoved, "%s:效果对象 %d(页 %d)由 %d, %d 移到 %d, %d,以保持其中心。",
     "%s: the effect object %d of page %d moved from %d, %d to %d, %d to keep its centre."},
    {kCliColours, "不在菜单调色板中的颜色:nearest 取最接近的颜色(默认),exact 拒绝",
     "colours that the menu's palette lacks: nearest takes the nearest entry (default), exact refuses the picture"},
    {kCliDither, "对不在调色板中的颜色使用误差扩散抖动", "dither the colours that the palette lacks (Floyd-Steinberg)"},
    {kCliAnchor, "尺寸改变的图片:top-left 保持按钮左上角(默认),centre 保持按钮中心",
     "a picture of another size keeps its button's top-left corner (top-left, default) or its centre (centre)"},
    {kMsgNoStcSequence, "%s\n素材信息没有STC序列,无法重新复用 ! ",
     "%s\nThe clip information has no STC sequence, so the clip cannot be remultiplexed ! "},
    {kMsgNoRoom, "%s\n空间不足:需要 %s,可用 %s ! ", "%s\nNot enough free space: %s needed, %s free ! "},
    {kMsgCopyBackFile, "%s\n不能替换:%s", "%s\ncannot be replaced: %s"},
    {kMsgNotWorkFolder, "%s\n不是提取时生成的VELD工作文件夹(文件夹名应为 VELD)! ",
     "%s\nis not the VELD work folder of an extraction (its name must be VELD) ! "},
    {kMsgBadSegmentFile, "%s\n不是可用的菜单流文件:%s ! ", "%s\nis not a usable menu stream file: %s ! "},
    {kMsgShortClip, "%s\n素材文件在PID 0x%04X的数据之前结束 ! ", "%s\nThe clip stream file ends before the packets of PID 0x%04X ! "},
    {kMsgInPlaceFallback, "素材 %s 无法原位替换(%s),改为完整重新复用 ",
     "Clip %s: the new menu does not fit the old arrival slots (%s); remultiplexing the whole clip "},
    {kMsgPmtTooLong, "新素材的PMT太长,超出一个段 ! ", "The program map table of the new clip does not fit one section ! "},
    {kStrCancel, " 取消 ", " Cancel "},
    {kStrAboutMenu, "关于 VELD(&A)...", "About VELD(&A)..."},
    {kMsgFolderExistsEdited, "%s\n 已经存在,其中 %d 张图片在上次提取后修改过,将被替换。覆盖 ? ",
     "%s\n exists; %d of its pictures were edited after the last extraction and will be replaced. "
     "Overwrite ? "},
    {kMsgNoRipFolder, "没有设置输出路径 ! ", "No output folder set ! "},
    {kMsgIsFileNotBdmv, "%s\n是文件,不是BDMV文件夹 ! ", "%s\nis a file, not a BDMV folder ! "},
    {kMsgBdmvFolderHint, "请指定光盘的BDMV文件夹,即包含index.bdmv、PLAYLIST、CLIPINF和STREAM的文件夹。",
     "Give the BDMV folder of the disc, the folder that holds index.bdmv, PLAYLIST, CLIPINF and STREAM."},
    {kMsgDidYouMean, "是否应为 %s ?", "Did you mean %s ?"},
    {kMsgRipInsideSource, "%s\n位于BDMV文件夹 %s 之内,请选择光盘以外的输出文件夹 ! ",
     "%s\nlies inside the BDMV folder %s; choose an output folder outside the disc ! "},
    {kMsgSourceInsideWork, "%s\n位于工作文件夹 %s 之内,提取会替换其中的图片 ! ",
     "%s\nlies inside the work folder %s, whose pictures the extraction replaces ! "},
    {kMsgUsingBackup, "%s 无法使用,改为读取其备份 %s", "%s cannot be used; reading its backup copy %s instead"},
    {kMsgOldImagesLeft, "未能完全删除先前的图片 %s:\n%s", "The earlier pictures in %s could not all be deleted:\n%s"},
    {kMsgCopyBackJournal, "%s\n无法写入复制回光盘的日志:%s", "%s\nThe journal of the copy-back cannot be written: %s"},
    {kMsgCopyBackFinished, "上次被中断的复制回光盘已完成:%s 中的新文件已全部就位。",
     "The interrupted copy-back into %s has been finished: every new file is in place."},
    {kMsgCopyBackUndone, "上次被中断的复制回光盘已撤销:%s 保持原样。",
     "The interrupted copy-back into %s has been undone: the folder is as it was."},
    {kMsgCopyBackStuck, "日志 %s 所记录的被中断的复制回光盘既无法完成也无法撤销:%s",
     "The interrupted copy-back recorded in %s can be neither finished nor undone: %s"},
    {kMsgCopyBackJournalDamaged,
     "%s\n被中断的复制回光盘的日志已损坏:请检查BDMV文件夹中以 .veld-new 和 .veld-old 结尾的文件,然后删除该日志。",
     "%s\nThe journal of an interrupted copy-back is damaged: check the BDMV folder for files ending in .veld-new "
     "and .veld-old, then delete the journal."},
    {kMsgBytesUnread, "%s:%s(偏移 %d)在其内容之后还有 %d 个字节,未被读取",
     "%s: %s at offset %d holds %d bytes after its content, which were not read"},
    {kMsgIncompleteDisplaySet, "%s,PID %d:显示集 %d 不完整(流在其 %d 个完整的段之后结束,始于%s),已略去",
     "%s, PID %d: display set %d is incomplete (the stream ends after %d whole segments of it, from %s) and is "
     "left out"},
    {kStrWarningsCount, "%d 条警告:", "%d warnings:"},
    {kMsgObjectNoPicture, "%s,显示集 %d:对象 %d 无法解码,未写出图片 %s:%s",
     "%s, display set %d: object %d does not decode, so its picture %s is not written: %s"},
    {kMsgClipStreamShort, "%s 比其剪辑信息 %s 所说的短:应有 %s 个源包,只有 %s 个;其结尾之后的菜单缺失",
     "%s is shorter than its clip information %s says: %s source packets expected, %s found; the menus "
     "past its end are missing"},
    {kMsgBackupDiffers, "%s 与其备份 %s 不同,首个不同的字节位于偏移 %s",
     "%s differs from its backup copy %s; the first differing byte is at offset %s"},
    {kCliAbout, "VELD:编辑蓝光BDMV文件夹中的交互菜单(IG)。",
     "VELD: edit the interactive menus (IG) of a Blu-ray BDMV folder."},
    {kCliExample,
     "编辑流程:\n"
     "  veld extract ~/disc/BDMV ~/work           # 图片位于 ~/work/VELD/Images\n"
     "  (编辑部分图片:尺寸、调色板和文件名保持不变)\n"
     "  veld replace ~/disc/BDMV ~/work/VELD      # 新文件位于 ~/work/VELD/Stream\n"
     "  veld replace ~/disc/BDMV ~/work/VELD --copy-back   # ……并放入光盘",
     "The edit cycle:\n"
     "  veld extract ~/disc/BDMV ~/work           # pictures in ~/work/VELD/Images\n"
     "  (edit some pictures: same size, palette and name)\n"
     "  veld replace ~/disc/BDMV ~/work/VELD      # new files in ~/work/VELD/Stream\n"
     "  veld replace ~/disc/BDMV ~/work/VELD --copy-back   # ... and put them into the disc"},
    {kCliExtract,
     "把BDMV_FOLDER的每张菜单按钮图片存为256色GIF:RIP_FOLDER/VELD/Images/<素材>/<PID>/Epoch<e>/DS<d>/<nnnn>.gif",
     "Write every menu button picture of BDMV_FOLDER as a 256-colour GIF into "
     "RIP_FOLDER/VELD/Images/<clip>/<PID>/Epoch<e>/DS<d>/<nnnn>.gif"},
    {kCliBdmvArgument, "光盘的BDMV文件夹", "the BDMV folder of the disc"},
    {kCliRipArgument, "存放VELD工作文件夹的文件夹", "the folder that receives the VELD work folder"},
    {kCliYes, "对提问一律回答“是”(重用已有的VELD文件夹)", "answer yes to questions (reuse an existing VELD folder)"},
    {kCliQuiet, "只显示错误和警告", "print only errors and warnings"},
    {kCliHelp, "显示本帮助并退出", "Print this help message and exit"},
    {kCliVersion, "显示版本信息并退出", "Display program version information and exit"},
    {kCliLabelUsage, "用法", "Usage"},
    {kCliLabelOptions, "选项", "Options"},
    {kCliLabelSubcommands, "命令", "Subcommands"},
    {kCliLabelPositionals, "参数", "Positionals"},
    {kCliLabelOptionsWord, "选项", "OPTIONS"},
    {kCliLabelSubcommandWord, "命令", "SUBCOMMAND"},
    {kCliLabelRequired, "必需", "REQUIRED"},
    {kCliLabelText, "文本", "TEXT"},
    {kCliLabelExcludes, "不能同时使用", "Excludes"},
    {kCliLabelNeeds, "需要同时使用", "Needs"},
    {kCliError, "错误:", "error: "},
    {kCliWarning, "警告:", "warning: "},
    {kCliCancelled, "已取消。", "Cancelled."},
    {kCliSummary, "素材 %d 个,菜单流(IG) %d 个,显示集 %d 个:共写出图片 %d 张",
     "Clips: %d, IG streams: %d, display sets: %d; images written: %d"},
    {kCliSkipped, ",无图片而跳过的对象 %d 个", "; objects skipped (no picture): %d"},
    {kCliWithWarning, ";有 %d 条警告(见上)", "; with %d warning (see above)"},
    {kCliWithWarnings, ";有 %d 条警告(见上)", "; with %d warnings (see above)"},
    {kCliEditHint, "请编辑需要修改的图片,文件名保持不变;其他颜色和尺寸会适配到菜单(见 veld replace --help)。",
     "Edit the pictures you want to change and keep their file names; other colours and sizes are fitted to "
     "the menu (see veld replace --help)."},
    {kCliPromptChoices, " [y]是 / [n]否 / [c]取消:", " [y]es / [n]o / [c]ancel: "},
    {kCliAssumedYes, " 是(--yes)", " yes (--yes)"},
    {kCliAssumedNo, " 否(未询问:标准输入不是终端;可用 --yes)",
     " no (not asked: standard input is not a terminal; use --yes)"},
    {kCliUnknownCommand, "未知的命令 %s", "unknown command %s"},
    {kCliUnknownArgument, "未知的选项或多余的参数 %s", "unknown option or extra argument %s"},
    {kCliMissingArgument, "缺少参数 %s", "%s is required"},
    {kCliMoreInformation, "运行 %s --help 查看说明。", "Run %s --help for more information."},
    {kCliCommandRequired, "需要一个命令:%s", "A command is required: %s"},
    {kCliReplace,
     "把提取后修改过的每张图片放回菜单:重建菜单流(IG),把素材重新复用到WORK_FOLDER/Stream并生成新的素材信息和播放列表,"
     "需要时再复制到BDMV_FOLDER(先暂存:失败时光盘保持原样)",
     "Put every picture edited since the extraction back into its menu: rebuild the IG streams, remultiplex "
     "the clips into WORK_FOLDER/Stream with new clip information and playlists, and copy them into "
     "BDMV_FOLDER if asked (staged first: a failure leaves the disc as it was)"},
    {kCliReplaceBdmvArgument, "提取图片时所用的BDMV文件夹", "the BDMV folder the pictures were extracted from"},
    {kCliWorkArgument, "那次提取的VELD工作文件夹", "the VELD work folder of that extraction"},
    {kCliCopyBack, "把新文件复制到BDMV_FOLDER及其BACKUP", "copy the new files into BDMV_FOLDER and its BACKUP"},
    {kCliNoCopyBack, "新文件留在WORK_FOLDER/Stream", "leave the new files in WORK_FOLDER/Stream"},
    {kCliIgLanguage, "重建的菜单流使用的三字母ISO 639-2语言代码(默认:各自保留原来的)",
     "three-letter ISO 639-2 code for the rebuilt menu streams (default: keep each one's own)"},
    {kCliRemux, "in-place:新菜单流占用旧菜单流的到达位置,其余数据包原样复制(默认;放不下时改为full);full:整个素材重新复用",
     "in-place: the new menu takes the old one's arrival slots and every other packet is copied (default; "
     "full where it does not fit); full: remultiplex the whole clip"},
    {kCliReplaceYes, "对提问一律回答“是”(因此除非指定 --no-copy-back,新文件会被复制回去)",
     "answer yes to every question (so the files are copied back unless --no-copy-back)"},
    {kCliReplaceSummary, "导入图片 %d 张,重建菜单流(IG) %d 个,重新复用素材 %d 个,调整播放列表 %d 个",
     "Pictures imported: %d, IG streams rebuilt: %d, clips remultiplexed: %d, playlists adjusted: %d"},
    {kMsgBadLanguage, "%s\n不是三个字母的ISO 639-2语言代码 ! ", "%s\nis not a three-letter ISO 639-2 language code ! "},
    // Desktop window.
    {kStrUsage,
     "\tVELD 蓝光菜单按钮图片工具(自由软件,GPL-3.0-or-later)\n"
     "\n"
     "一、主要功能\n"
     "\t1. 提取HDMV模式蓝光菜单的按钮图片。\n"
     "\t2. 替换按钮图片,直接修改蓝光菜单。\n"
     "\t3. 支持按钮的所有状态(普通、选中、激活)以及切入、切出效果的图片。\n"
     "\t4. 菜单的其他属性保持不变:命令、位置、导航、效果、按钮声音。\n"
     "\t5. 支持多语言菜单。\n"
     "\n"
     "二、重要提示\n"
     "\t替换会覆盖文件:替换前请先备份BDMV文件夹,切勿在唯一的副本上操作。\n"
     "\n"
     "三、使用步骤\n"
     "\t1. 备份BDMV文件夹后,用浏览按钮选择它。\n"
     "\t2. 点击“提取按钮图片”,按钮图片以GIF格式保存。\n"
     "\t3. 用图像编辑软件修改图片:保持提取图片的格式和调色板,以原文件名保存。\n"
     "\t4. 点击“替换按钮图片”,修改过的图片被打包进新的m2ts、clpi和mpls文件。"
     "要更改新菜单流的语言,请在“新菜单流语言”中填入三个字母的代码(如 zho)。\n"
     "\t5. 让本工具把新文件自动复制到源BDMV文件夹,或者手工复制,别忘了BACKUP文件夹中对应的文件。\n"
     "\n"
     "四、其他说明\n"
     "\tBD-J模式的菜单是BDMV文件夹中的普通图片文件,不需要本工具。\n"
     "\t不需要修改的图片可以不动,也可以删除。\n",
     "\tVELD, the Blu-ray menu button image tool (free software, GPL-3.0-or-later)\n"
     "\n"
     "What it does\n"
     "\t1. Extracts the button images of Blu-ray menus in HDMV mode.\n"
     "\t2. Replaces them, and so changes the Blu-ray menus directly.\n"
     "\t3. Every button state (normal, selected, activated) and the pictures of in and out effects are "
     "supported.\n"
     "\t4. Everything else about the menus stays as it was: commands, positions, navigation, effects, "
     "button sounds.\n"
     "\t5. Menus in several languages are supported.\n"
     "\n"
     "Important\n"
     "\tReplacing overwrites files: back up the BDMV folder first and never work on your only copy.\n"
     "\n"
     "Steps\n"
     "\t1. Back up the BDMV folder, then choose it with the browse button.\n"
     "\t2. Click \"Extract button images\": the button images are saved as GIF files.\n"
     "\t3. Edit the pictures in an image editor: keep the format and the palette of the extracted picture "
     "and save it under the same name.\n"
     "\t4. Click \"Replace button images\": the edited pictures are packed into new m2ts, clpi and mpls "
     "files. To give the rebuilt menu stream another language, enter its three-letter code (zho, for "
     "example) in \"Language of the rebuilt menu stream\".\n"
     "\t5. Let the tool copy the new files into the source BDMV folder, or copy them by hand; do not forget "
     "the matching files in BACKUP.\n"
     "\n"
     "Other notes\n"
     "\tMenus in BD-J mode are plain picture files in the BDMV folder and need no tool.\n"
     "\tPictures that need no change may be left alone or deleted.\n"},
    {kStrSourceLabel, "源BDMV文件:", "Source BDMV folder:"},
    {kStrAboutButton, "关于...", "About..."},
    {kStrWebButton, "网站...", "Web site..."},
    {kStrExtractButton, "提取按钮图片", "Extract button images"},
    {kStrReplaceButton, "替换按钮图片", "Replace button images"},
    {kStrExitButton, "退出", "Exit"},
    {kStrBrowseTip, "选择源BDMV文件夹", "Choose the source BDMV folder"},
    {kStrIgLanguageLabel, "新菜单流语言:", "Language of the rebuilt menu stream:"},
    {kStrIgLanguageHint, "保持原样", "keep"},
    {kStrChooseSource, "选择源BDMV文件夹", "Choose the BDMV folder"},
    {kStrChooseRip, "选择存放提取图片的文件夹", "Choose the folder for the extracted images"},
    {kStrChooseWork, "选择VELD工作文件夹", "Choose the VELD work folder"},
    {kStrChooserHint, "请选择名为 %s 的文件夹", "Select a folder named %s"},
    {kStrNewFolder, "新建文件夹", "New folder"},
    {kStrOk, "确定", "OK"},
    {kStrYes, "是(&Y)", "&Yes"},
    {kStrNo, "否(&N)", "&No"},
    {kStrFolderLabel, "文件夹:", "Folder:"},
    {kStrAboutTitle, "关于 VELD", "About VELD"},
    {kStrFileDescription, "VELD 蓝光菜单按钮图片工具", "VELD, the Blu-ray menu button image tool"},
    {kStrAppVersion, "%s, Version %s", "%s, Version %s"},
    {kStrCompany, "VELD 项目", "The VELD project"},
    {kStrLegal, "版权所有 (C) VELD 开发者。本程序是自由软件,按 GNU 通用公共许可证第 3 版或(由您选择)任何更新版本发布,不提供任何担保。",
     "Copyright (C) the VELD developers. Free software under the GNU General Public License, version 3 or "
     "later (GPL-3.0-or-later); there is NO WARRANTY."},
    {kStrComments, "提取并替换蓝光 BDMV 文件夹中交互图形(IG)菜单的按钮图片。",
     "Extracts and replaces the button images of the interactive graphics (IG) menus of a Blu-ray BDMV "
     "folder."},
    {kStrNewFolderName, "新建文件夹", "New folder"},
    {kStrEpoch, "时段", "Epoch"},
    {kStrDisplaySet, "显示集", "DisplaySet"},
    {kStrGraphics, "图形", "Graphics"},
    {kStrPalettes, "调色板", "Palettes"},
    {kStrPage, "页面", "Page"},
    {kStrBog, "按钮组", "Bog"},
    {kStrButton, "按钮", "Button"},
    {kStrWindow, "窗口", "Window"},
    {kStrCompositionObject, "合成对象", "Composition Object"},
    {kStrEffect, "效果", "Effect"},
    {kStrInEffect, "进入效果", "In Effect"},
    {kStrOutEffect, "退出效果", "Out Effect"},
    {kStrOptPreview, "同时生成每个菜单页面的预览图(位于 VELD/Preview)",
     "also write a preview of every menu page as a player draws it (in VELD/Preview)"},
    {kStrOptFormat, "图片格式: gif(默认)或 png(保留每种颜色的透明度)",
     "picture format: gif (default) or png (keeps the transparency of every colour)"},
    {kStrShowCommand, "列出BDMV下的菜单: IG流、显示集、页面、按钮及其命令、对象和图片位置",
     "List the menus of BDMV_FOLDER: IG streams, display sets, pages, buttons with their commands, objects "
     "and where their pictures go"},
    {kStrOptJson, "以JSON格式输出(格式见 docs/show-schema.md)", "print JSON (layout in docs/show-schema.md)"},
    {kMsgPreviewsDone, "%d 张页面预览图,位于:%s", "%d page previews, located at: %s"},
    {kStrIgStream, "IG流", "IG stream"},
    {kStrPlayItem, "播放项 %d", "play item %d"},
    {kStrAngle, "播放项 %1$d 的角度 %2$d", "angle %2$d of play item %1$d"},
    {kStrSubPath, "子路径 %d 的第 %d 项", "sub-path %d, item %d"},
    {kStrAlwaysOn, "常驻菜单", "always-on menu"},
    {kStrPopUp, "弹出菜单", "pop-up menu"},
    {kStrMultiplexed, "复用", "multiplexed"},
    {kStrPreloaded, "预载", "preloaded"},
    {kStrLanguage, "语言", "language"},
    {kStrPicture, "图片", "picture"},
    {kStrNoPicture, "无图片(没有调色板或数据不可用)", "no picture (no palette or unusable data)"},
    {kStrUsedBy, "使用者", "used by"},
    {kStrCommands, "命令", "Commands"},
    {kStrNotUsed, "没有页面使用", "used by no page"},
    {kStrNoComposition, "没有交互合成: %s", "no interactive composition: %s"},
    {kStrCheckCommand, "检查BDMV:播放列表的片段、片段信息与流文件、PAT/PMT、解码时间、解码缓冲区和IG对象",
     "Check BDMV_FOLDER against VELD's models: the clips of every playlist, clip information against its stream "
     "file, PAT/PMT, decoding times, decoder buffers and IG objects; exit status 2 when something is found"},
    {kStrOptCheckJson, "以JSON格式输出检查结果", "print the findings as JSON"},
    {kStrCheckTitle, "检查", "Checking"},
    {kMsgCheckClean, "%s:%d 个播放列表,%d 个片段,%d 个源包:未发现问题",
     "%s: %d playlists, %d clips, %d source packets: no finding"},
    {kMsgCheckFindings, "%s:%d 个播放列表,%d 个片段,%d 个源包:发现 %d 个问题",
     "%s: %d playlists, %d clips, %d source packets: %d findings"},
    {kMsgRebuiltClipFails, "重建的片段 %1$s 未通过原片段能通过的检查(%3$s),未复制回BDMV:\n%2$s",
     "The rebuilt clip %1$s fails a check (%3$s) that the original passes; nothing was copied back:\n%2$s"},
    // Undo of a copy-back, one run per work folder, a clip cut short while mapped.
    {kMsgClipShrank, "%s\n读取期间该文件变短了(原 %s 字节,现 %s 字节):另一个程序修改了它。",
     "%s\nThe file became shorter while it was read (%s bytes, now %s): another program changed it."},
    {kMsgWorkBusy, "工作文件夹 %s 正被进程 %s 使用(%s):请等它结束后再试。",
     "The work folder %s is in use by process %s (%s): try again when it has finished."},
    {kMsgWorkBusyUnknown, "工作文件夹 %s 正被另一个进程使用:请等它结束后再试。",
     "The work folder %s is in use by another process: try again when it has finished."},
    {kMsgWorkLockFailed, "无法锁定工作文件夹 %s:%s", "The work folder %s cannot be locked: %s"},
    {kMsgUndoFinished, "上次被中断的撤销已完成:%s 中的原文件已全部恢复。",
     "The interrupted undo in %s has been finished: every original file is back."},
    {kMsgUndoUndone, "上次被中断的撤销已撤回:%s 保持撤销之前的样子。",
     "The interrupted undo in %s has been rolled back: the folder is as it was before it."},
    {kMsgNothingToUndo, "%s 中没有可以撤销的复制回光盘。", "%s holds no copy-back to undo."},
    {kMsgAskUndo, "要在 %s 中恢复 %d 个被 %s 的复制回光盘替换的文件,并删除其新增的 %d 个文件吗?",
     "Put back into %s the %d files that the copy-back of %s replaced, and remove the %d files it added?"},
    {kMsgUndoDone, "%s 的复制回光盘已撤销(%s):", "The copy-back of %s into %s is undone:"},
    {kMsgUndoRestored, "已恢复 %s", "put back %s"},
    {kMsgUndoRemoved, "已删除 %s", "removed %s"},
    {kMsgUndoDamaged, "撤销记录 %s 已损坏或不完整:%s", "The undo entry %s is damaged or incomplete: %s"},
    {kMsgUndoKeep, "无法在 %s 中保留被替换的文件:%s", "The replaced files cannot be kept in %s: %s"},
    {kMsgUndoFailed, "撤销失败,BDMV文件夹保持原样。", "The undo failed; the BDMV folder is as it was."},
    {kCliUndo, "恢复最近一次从WORK_FOLDER复制回光盘时被替换的文件",
     "put back the files that the last copy-back from WORK_FOLDER replaced"},
    {kCliUndoYes, "对撤销的询问回答“是”", "answer yes to the undo question"},
    {kCliUndoWorkArgument, "VELD工作文件夹,撤销其最近一次复制回光盘",
     "the VELD work folder whose last copy-back is undone"},
    {kStrUndoButton, "撤销复制回光盘", "Undo copy-back"},
    {kStrChooseUndoWork, "选择VELD工作文件夹,撤销其最近一次复制回光盘",
     "Choose the VELD work folder whose last copy-back is undone"},
    {kMsgEditsDiffer, "%s\r\n和 %s\r\n是同一张图片(对象 %d,%d x %d,同一菜单流中的副本),却被改得不一样 ! 请把两者改成相同,或从新的提取中恢复其中一张,然后重新替换。",
     "%s\r\nand %s\r\nare the same picture (object %d, %d x %d, copies in one IG stream) but were edited "
     "differently ! Make them the same, or restore one of them from a new extraction, and replace again."},
    {kMsgEditNoObject, "以下图片被修改过,但光盘中已经没有它们的对象(素材、菜单流、显示集或对象不存在):\r\n%s\r\n请重新提取光盘,在新的图片上重做修改,或者删除这些图片。",
     "These pictures were edited, but the disc no longer has their objects (clip, IG stream, display set or "
     "object not found):\r\n%s\r\nExtract the disc again and redo the edits in the new pictures, or delete "
     "these pictures."},
    {kMsgSkippedLink, "%s\r\n是符号链接,不是图片:已跳过。请把图片本身复制到这里。",
     "%s\r\nis a symbolic link, not a picture: skipped. Copy the picture itself to this place to use it."},
    {kMsgSkippedFolder, "%s\r\n是文件夹,不是图片:已跳过。", "%s\r\nis a folder, not a picture: skipped."},
    {kMsgAnimatedGif, "%s\r\n有 %d 帧:只采用第一帧。请存成单帧图片。",
     "%s\r\nhas %d frames: only the first is taken. Save it as a single picture."},
    {kMsgBadManifest, "%s\r\n%s ! 请重新提取图片,或删除此文件以按时间判断修改。",
     "%s\r\n%s ! Extract the pictures again, or delete this file to find the edits by their time stamps."},
    {kMsgEditOne, "%s:修改 1 处", "%s: 1 edit"},
    {kMsgEdits, "%s:修改 %d 处", "%s: %d edits"},
    {kMsgEditCopies, ",应用到 %d 个副本(%s)", ", applied to %d copies in %s"},
    {kMsgDryRun, "试运行:没有写入任何文件。", "Dry run: nothing was written."},
    {kMsgDryRunNothing, "没有算作修改过的图片。", "No picture counts as edited."},
    {kMsgDryRunStream, "将重建菜单流(IG) %d(素材 %s)", "Would rebuild IG stream %d of clip %s"},
    {kMsgDryRunClip, "将重新复用素材 %s(并调整播放它的播放列表)",
     "Would remultiplex clip %s (and adjust the playlists that play it)"},
    {kMsgReplaceDoneCopied, "指定BDMV下,按钮图片替换成功 ! \r\n新文件已从 %s 复制:",
     "The button images of the given BDMV were replaced ! \r\nThe new files were copied from %s:"},
    {kMsgCopiedInto, "复制到 %s:%s", "Copied into %s: %s"},
    {kMsgAskCopyBackFiles, "是否把新文件复制到 %s ?\r\n%s", "Copy the new files into %s ?\r\n%s"},
    {kCliDryRun, "只列出算作修改的图片和将要重建的内容,不写入任何文件",
     "list what counts as edited and what would be rebuilt; write nothing"},
    {kStrCopyOf, "副本,图片为", "copy of"},
    {kStrCopiesIn, "副本位于", "copies in"},
    {kMsgCopiesLine, "改动的对象(含副本):%d 个", "Objects changed, copies included: %d"},
    {kStrMenuTree, "光盘菜单", "Menus of the disc"},
    {kStrMenuClip, "素材 %s", "Clip %s"},
    {kStrMenuStream, "菜单流(IG) PID %d (0x%04X)，%s", "IG stream PID %d (0x%04X), %s"},
    {kStrMenuDisplaySet, "显示集 %d", "Display set %d"},
    {kStrMenuPage, "页面 %d(%d 个按钮)", "Page %d, %d buttons"},
    {kStrMenuButtonTip, "按钮 %d：位置 %d, %d，大小 %d x %d", "Button %d: %d, %d, %d x %d"},
    {kStrMenuNormal, "普通", "Normal"},
    {kStrMenuSelected, "选中", "Selected"},
    {kStrMenuActivated, "激活", "Activated"},
    {kStrMenuShownAs, "按钮显示为:", "Buttons drawn:"},
    {kStrMenuAsPlayer, "如播放器初次显示", "As a player first shows the page"},
    {kStrMenuNoPicture, "对象 %d:没有图片", "object %d: no picture"},
    {kStrMenuPictureText, "%s\n%s\n%d x %d，%s 字节", "%s\n%s\n%d x %d, %s bytes"},
    {kStrMenuFrame, "%s，第 %d/%d 帧", "%s, frame %d of %d"},
    {kStrEditWriteFailed, "无法写入“%s”:%s", "\"%s\" cannot be written: %s"},
    {kStrEditRevertGone, "光盘中已没有提取时的图片“%s”:文件保持不变。", "The disc no longer holds the picture \"%s\" as it was extracted; the file was left as it is."},
    {kStrEditMark, "%s [已修改]", "%s [edited]"},
    {kStrEditRefusedTip, "替换时将拒绝这张图片:\n%s", "Replace will refuse this picture:\n%s"},
    {kStrEditOpen, "在图片编辑器中打开", "Open in image editor"},
    {kStrEditReplace, "替换图片...", "Replace picture..."},
    {kStrEditRevert, "还原", "Revert"},
    {kStrEditChoosePicture, "选择用作 %s 的图片", "Picture for %s"},
    {kStrEditPictureFilter, "图片 (*.png *.gif)", "Pictures (*.png *.gif)"},
    {kStrEditAskReplace, "“%s”已修改。用“%s”替换这处修改吗?", "\"%s\" is edited. Replace its edit with \"%s\"?"},
    {kStrEditAskRevert, "要还原“%s”提取时的原图吗?所做的修改将丢失。", "Put back the extracted original of \"%s\"? Its edit will be lost."},
    {kStrEditListTitle, "已修改的图片", "Edited pictures"},
    {kStrEditBeforeAfter, "%s\n修改前 | 修改后", "%s\nbefore | after"},
    {kStrEditNone, "还没有修改过的图片。", "No picture is edited yet."},
    {kStrEditOpenFailed, "无法启动图片编辑器“%s”。", "The image editor \"%s\" could not be started."},
    {kStrSettingsButton, "设置...", "Settings..."},
    {kStrSettingsTitle, "设置", "Settings"},
    {kStrSettingsEditor, "图片编辑器命令(%f 代表图片;留空则用桌面默认程序)(&E):",
     "Image &editor command (%f is the picture; empty: the desktop's default):"},
    {kStrSettingsFormat, "提取的图片格式(&F):", "Picture &format for extraction:"},
    {kStrSettingsPreview, "提取时同时写出页面预览(&P)", "Write page &previews when extracting"},
    {kStrSettingsReplace, "替换按钮图片时", "When replacing button images"},
    {kStrSettingsColours, "菜单调色板中没有的颜色(&C):", "&Colours the menu's palette lacks:"},
    {kStrSettingsNearest, "取最接近的颜色(nearest)", "take the nearest entry (nearest)"},
    {kStrSettingsExact, "拒绝该图片(exact)", "refuse the picture (exact)"},
    {kStrSettingsDither, "对这些颜色使用误差扩散抖动(&D)", "&Dither these colours (Floyd-Steinberg)"},
    {kStrSettingsAnchor, "尺寸改变的图片保持按钮的(&K):", "A picture of another size &keeps the button's:"},
    {kStrSettingsTopLeft, "左上角(top-left)", "top-left corner (top-left)"},
    {kStrSettingsCentre, "中心(centre)", "centre (centre)"},
    {kStrEditStreamRefused, "替换时将拒绝此菜单流的修改:\n%s", "Replace will refuse the edits of this stream:\n%s"},
    {kStrProgressStep, "%s:%d%%", "%s: %d%%"},
    {kStrEditRefusedMark, "%s [将被拒绝]", "%s [refused]"},
    {kStrReplaceWrittenInto, "写入 %s:%s", "Written into %s: %s"},
    {kStrMenuChooseButton, "单击预览中的按钮(或用方向键选择),即可查看它各状态的图片。",
     "Click a button in the preview (or pick one with the arrow keys) to see the pictures of its states."},
    {kStrMenuPreview, "页面预览", "Page preview"},
    {kStrMenuPictures, "所选按钮的图片", "Pictures of the chosen button"},
    {kStrMenuButtonHeading, "页面 %2$d 的按钮 %1$d 的图片:", "Pictures of button %d of page %d:"},
    {kStrMenuNone, "无", "none"},
    {kStrMenuNoExtraction, "工作文件夹中没有提取的图片。", "The work folder holds no extracted pictures."},
    {kStrMenuStateLine, "%s：%s", "%s: %s"},
};

// Every id once: a second entry with the same id would never be found.
constexpr bool ids_unique() {
  constexpr std::size_t n = sizeof(kCatalogue) / sizeof(kCatalogue[0]);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j)
      if (kCatalogue[i].id == kCatalogue[j].id) return false;
  return true;
}
static_assert(ids_unique(), "two catalogue entries share an id");

// -1: not forced; otherwise the Language value.
std::atomic<int> g_forced{-1};

bool starts_with_zh(std::string_view v) { return v.size() >= 2 && v[0] == 'z' && v[1] == 'h'; }

std::string_view env(const char* name) {
  const char* v = std::getenv(name);
  return v ? std::string_view(v) : std::string_view();
}

}  // namespace

Language language_from_locale(std::string_view lc_all, std::string_view lc_messages, std::string_view lang) {
  // POSIX precedence: the first non-empty of LC_ALL, LC_MESSAGES, LANG decides.
  for (auto v : {lc_all, lc_messages, lang}) {
    if (!v.empty()) return starts_with_zh(v) ? Language::kChinese : Language::kEnglish;
  }
  return Language::kEnglish;
}

Language ui_language() {
  int forced = g_forced.load();
  if (forced >= 0) return static_cast<Language>(forced);
  static const Language from_env = language_from_locale(env("LC_ALL"), env("LC_MESSAGES"), env("LANG"));
  return from_env;
}

void set_language(Language lang) { g_forced.store(static_cast<int>(lang)); }
void reset_language() { g_forced.store(-1); }

std::string_view message_text(int id, Language lang) {
  for (const auto& e : kCatalogue) {
    if (e.id == id) return lang == Language::kChinese ? e.zh : e.en;
  }
  static thread_local std::string unknown;
  unknown = "#" + std::to_string(id);
  return unknown;
}

std::string_view message_text(int id) { return message_text(id, ui_language()); }

std::string plain_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      // "\r\n" and "\n\r" become one line break; a lone "\r" too.
      if (i + 1 < text.size() && text[i + 1] == '\n') continue;
      if (!out.empty() && out.back() == '\n') continue;
      c = '\n';
    }
    if (c == '\n') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    out += c;
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
  return out;
}

}  // namespace veld
