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
    {kMsgNotBdmvFolder, "%s\n不是BDMV文件夹(没有index.bdmv),应为 %s ? ",
     "%s\nis not a BDMV folder (it has no index.bdmv); did you mean %s ? "},
    {kMsgNoSuchFolder, "%s\n文件夹不存在 ! ", "%s\nNo such folder ! "},
    {kMsgImageForeignColour, "%s\r\n使用了菜单调色板中没有的颜色 %s(首次出现于像素 %d, %d)! ",
     "%s\r\nuses the colour %s (first at pixel %d, %d), which is not in the menu's palette ! "},
    {kMsgNoStcSequence, "%s\n素材信息没有STC序列,无法重新复用 ! ",
     "%s\nThe clip information has no STC sequence, so the clip cannot be remultiplexed ! "},
    {kMsgNoRoom, "%s\n空间不足:需要 %s,可用 %s ! ", "%s\nNot enough free space: %s needed, %s free ! "},
    {kMsgCopyBackFile, "%s\n不能替换:%s", "%s\ncannot be replaced: %s"},
    {kMsgNotWorkFolder, "%s\n不是提取时生成的VELD工作文件夹(文件夹名应为 VELD)! ",
     "%s\nis not the VELD work folder of an extraction (its name must be VELD) ! "},
    {kStrCancel, " 取消 ", " Cancel "},
    {kStrAboutMenu, "关于 VELD(&A)...", "About VELD(&A)..."},
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

}  // namespace veld
