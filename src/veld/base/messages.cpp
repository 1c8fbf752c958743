#include "veld/base/messages.h"

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
    {kMsgNoStcSequence, "%s\n素材信息没有STC序列,无法重新复用 ! ",
     "%s\nThe clip information has no STC sequence, so the clip cannot be remultiplexed ! "},
    {kMsgNoRoom, "%s\n空间不足:需要 %s,可用 %s ! ", "%s\nNot enough free space: %s needed, %s free ! "},
    {kMsgCopyBackFile, "%s\n不能替换:%s", "%s\ncannot be replaced: %s"},
    {kMsgNotWorkFolder, "%s\n不是提取时生成的VELD工作文件夹(文件夹名应为 VELD)! ",
     "%s\nis not the VELD work folder of an extraction (its name must be VELD) ! "},
    {kMsgBadSegmentFile, "%s\n不是可用的菜单流文件:%s ! ", "%s\nis not a usable menu stream file: %s ! "},
    {kMsgShortClip, "%s\n素材文件在PID 0x%04X的数据之前结束 ! ", "%s\nThe clip stream file ends before the packets of PID 0x%04X ! "},
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
    {kCliEditHint, "请编辑需要修改的图片,保持其尺寸、调色板和文件名不变。",
     "Edit the pictures you want to change; keep their size, palette and name."},
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
    {kCliReplaceYes, "对提问一律回答“是”(因此除非指定 --no-copy-back,新文件会被复制回去)",
     "answer yes to every question (so the files are copied back unless --no-copy-back)"},
    {kCliReplaceSummary, "导入图片 %d 张,重建菜单流(IG) %d 个,重新复用素材 %d 个,调整播放列表 %d 个",
     "Pictures imported: %d, IG streams rebuilt: %d, clips remultiplexed: %d, playlists adjusted: %d"},
    {kMsgBadLanguage, "%s\n不是三个字母的ISO 639-2语言代码 ! ", "%s\nis not a three-letter ISO 639-2 language code ! "},
    // Desktop window.
    {kStrUsage,
     "\tVELD 蓝光菜单按钮图片工具    https://veld.example.org/\n"
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
     "\tVELD, the Blu-ray menu button image tool    https://veld.example.org/\n"
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
    {kStrLegal, "版权所有 (C) VELD 开发者", "Copyright (C) the VELD developers"},
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
