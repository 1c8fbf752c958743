// SPDX-License-Identifier: GPL-3.0-or-later
#include "edit_watch.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <set>

#include "qt_text.h"

namespace veld::gui {
namespace {

// A manifest that does not read is the replace command's to report; here nothing counts as edited.
struct Quiet : Messenger {
  void show(MessageKind, std::string_view) override {}
  Answer ask(std::string_view) override { return Answer::kNo; }
};

// The ".png" name of a ".gif" picture and back: an editor may save the other format beside it.
QString OtherPicture(const QString& file) {
  QString other = file;
  if (file.endsWith(QStringLiteral(".gif"))) other.replace(other.size() - 3, 3, QStringLiteral("png"));
  else if (file.endsWith(QStringLiteral(".png"))) other.replace(other.size() - 3, 3, QStringLiteral("gif"));
  return other;
}

}  // namespace

EditWatch::EditWatch(QObject* parent) : QObject(parent), watcher_(new QFileSystemWatcher(this)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, &EditWatch::refresh);
  // A save by rename ends the watch of the file it replaced: the folder's change brings it back.
  connect(watcher_, &QFileSystemWatcher::fileChanged, this, [this] { settle_.start(); });
  connect(watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { settle_.start(); });
}

void EditWatch::setModel(std::shared_ptr<const SMenuModel> model, const SImportOptions& import) {
  model_ = std::move(model);
  import_ = import;
  files_.clear();
  if (!watcher_->files().isEmpty()) watcher_->removePaths(watcher_->files());
  if (!watcher_->directories().isEmpty()) watcher_->removePaths(watcher_->directories());
  if (model_ && model_->extracted) {
    std::set<QString> seen;
    for (const SMenuClip& clip : model_->clips)
      for (const SMenuStream& stream : clip.streams)
        for (const SMenuDisplaySet& ds : stream.display_sets)
          for (const SMenuPage& page : ds.pages)
            for (const SMenuButton& button : page.buttons)
              for (const auto& state : button.states)
                for (const SMenuPicture& picture : state) {
                  if (picture.file.empty()) continue;
                  const QString file = PathText(picture.file);
                  if (seen.insert(file).second) files_.push_back(file);
                }
  }
  refresh();
}

void EditWatch::setImport(const SImportOptions& import) {
  import_ = import;
  refresh();
}

void EditWatch::rewatch() {
  QStringList paths;
  std::set<QString> folders;
  for (const QString& file : files_) {
    for (const QString& f : {file, OtherPicture(file)}) {
      if (QFileInfo::exists(f)) paths << f;
    }
    folders.insert(QFileInfo(file).path());
  }
  for (const QString& folder : folders) paths << folder;
  const QStringList watched = watcher_->files() + watcher_->directories();
  QStringList missing;
  for (const QString& p : paths)
    if (!watched.contains(p)) missing << p;
  if (!missing.isEmpty()) watcher_->addPaths(missing);
}

void EditWatch::refresh() {
  previews_.clear();
  copies_.clear();
  streams_.clear();
  if (model_ && model_->extracted) {
    rewatch();
    CEditRule rule;
    Quiet quiet;
    if (!LoadEditRule(*model_, import_, rule, quiet)) rule.SetMarkerTime(std::nullopt);
    std::set<std::pair<std::size_t, std::size_t>> edited_streams;
    for (const QString& file : files_) {
      const std::optional<SPictureRef> ref = FindPictureRef(*model_, PathFrom(file));
      if (!ref) continue;
      SPicturePreview p = PreviewPicture(*model_, *ref, rule);
      if (p.state != EPictureEdit::kOriginal) edited_streams.insert({ref->clip, ref->stream});
      previews_.emplace(file, std::move(p));
    }
    for (const auto& [clip, stream] : edited_streams)
      streams_.emplace(std::make_pair(clip, stream), ApplyStreamEdits(*model_, clip, stream, rule));
    findCopies();
  }
  emit editsChanged();
}

void EditWatch::findCopies() {
  for (const QString& file : files_) {
    if (edited(file)) continue;
    const std::optional<SPictureRef> ref = FindPictureRef(*model_, PathFrom(file));
    const CGsData* edited_segments = ref ? segments(ref->clip, ref->stream) : nullptr;
    if (!edited_segments) continue;
    SPicturePreview p = CopyPreview(*model_, *ref, *edited_segments);
    if (p.state == EPictureEdit::kEdited) copies_.emplace(file, std::move(p));
  }
}

const SPicturePreview* EditWatch::copy(const QString& file) const {
  const auto it = copies_.find(file);
  return it == copies_.end() ? nullptr : &it->second;
}

const SPicturePreview* EditWatch::preview(const QString& file) const {
  const auto it = previews_.find(file);
  return it == previews_.end() ? nullptr : &it->second;
}

bool EditWatch::edited(const QString& file) const {
  const SPicturePreview* p = preview(file);
  return p && p->state != EPictureEdit::kOriginal;
}

const CGsData* EditWatch::segments(std::size_t clip, std::size_t stream) const {
  const auto it = streams_.find({clip, stream});
  return it == streams_.end() || !it->second.segments ? nullptr : &*it->second.segments;
}

QString EditWatch::refusal(std::size_t clip, std::size_t stream) const {
  const auto it = streams_.find({clip, stream});
  return it == streams_.end() ? QString() : FromUtf8(it->second.refusal);
}

QStringList EditWatch::editedFiles() const {
  QStringList out;
  for (const QString& file : files_)
    if (edited(file)) out << file;
  return out;
}

}  // namespace veld::gui
