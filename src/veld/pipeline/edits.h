// SPDX-License-Identifier: GPL-3.0-or-later
// Which pictures of a work folder are edits, and how an edit reaches every copy of its object.
//
// A picture is edited when what it holds (pixel indices, colours) differs from what the extraction wrote,
// as the manifest records it, whatever its time stamp, format or extension: "0002.png" beside "0002.gif"
// is read too. Work folders without a manifest use the marker's time: a picture written after it (to the
// nanosecond) is edited; without a marker every picture is.
//
// Objects of one IG stream with the same id, size and pixel indices are copies (a menu sent again in a
// later display set, maybe with a faded palette): an edit of any copy goes into all of them. Copies (or a
// GIF and a PNG of one object) edited differently are refused.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "veld/pipeline/output_names.h"
#include "veld/base/messenger.h"
#include "veld/graphics/colour_match.h"
#include "veld/graphics/gs_data.h"
#include "veld/pipeline/manifest.h"

namespace veld {

class CEditRule {
 public:
  // Reads the manifest of the work folder, else the marker's time. false after a reported failure (a
  // manifest that cannot be read or is malformed: the message names the line).
  bool Load(const SOutputNames& names, const std::filesystem::path& work, Messenger& messenger);
  // A rule by content over the given entries (tests).
  void SetManifest(const std::vector<SManifestEntry>& entries);
  // A rule by time: edited when written strictly after marker_ns (nanoseconds since the epoch); nothing
  // means every picture counts.
  void SetMarkerTime(std::optional<std::int64_t> marker_ns);

  bool by_content() const { return by_content_; }
  // How an edited picture is taken in (colours the palette lacks, other sizes): colour_match.h.
  void set_import(const SImportOptions& import) { import_ = import; }
  const SImportOptions& import() const { return import_; }
  // Whether the picture file (rel: its path below the image folder, '/' separated) is an edit. By
  // content: a picture the manifest does not list, under its name or with the other picture extension,
  // is one; so is a file that does not read as a picture (the import then says why).
  bool Edited(const std::filesystem::path& file, const std::string& rel) const;
  // Whether the picture file was written after the extraction (the manifest, else the marker): a cheap
  // first guess at Edited, which an edit that keeps the file's time escapes.
  bool Touched(const std::filesystem::path& file) const;

 private:
  bool by_content_ = false;
  SImportOptions import_;
  std::map<std::string, SPictureHashes, std::less<>> manifest_;
  std::optional<std::int64_t> marker_ns_;
  std::optional<std::int64_t> extracted_ns_;  // when the manifest or the marker was written
  mutable std::map<std::string, bool, std::less<>> cache_;
};

// A file's last-write time in nanoseconds since the epoch; nothing when it cannot be read.
std::optional<std::int64_t> FileTimeNs(const std::filesystem::path& path);

// What the import of edits found, over the whole run.
struct SEditReport {
  std::vector<std::string> lines;  // "<picture>: 1 edit, applied to 6 copies in DS1-DS6", one per object
  int pictures = 0;                // picture files taken as edits
  int objects = 0;                 // objects changed, copies included
  std::set<std::string> seen;      // every picture (relative path) that names an object of the disc
};

// Imports the edits of one IG stream from image_folder/<stream_rel>/Epoch<e>/DS<d>/<id+1>.gif|.png
// (stream_rel: "<clip>/<PID>") into every copy of each edited object. Skipped entries (a symbolic link or
// a folder named like a picture) and animated GIFs (first frame taken) are warnings. changed is set when
// an object changed. false after a reported failure: a picture the import refuses, or copies edited
// differently (naming both); the stream is then partly changed and must not be written.
bool ImportStreamEdits(CGsData& stream, const SOutputNames& names, const std::filesystem::path& image_folder,
                       const std::string& stream_rel, const CEditRule& rule, bool& changed, Messenger& messenger,
                       SEditReport& report);

// Whether a picture below image_folder/<clip_rel> is an edit (the clip will then be rebuilt).
bool HasEditedPicture(const std::filesystem::path& image_folder, const std::string& clip_rel, const CEditRule& rule);
// Whether a picture of the clip was written after the extraction (CEditRule::Touched).
bool HasTouchedPicture(const std::filesystem::path& image_folder, const std::string& clip_rel, const CEditRule& rule);

// After every IG stream of the disc was imported: an edited picture ("<id+1>.gif" or ".png" below the
// image folder) that named no object of the disc (its clip, stream, display set or object is gone) is an
// error naming it. false after reporting.
bool CheckEditsFoundTheirObjects(const std::filesystem::path& image_folder, const CEditRule& rule,
                                 const SEditReport& report, Messenger& messenger);

// The pictures (.gif, .png) of the work folder's image folder that count as edited.
int CountEditedPictures(const SOutputNames& names, const std::filesystem::path& work);

// "DS1-DS6", "DS1, DS3-DS4", "Epoch2/DS1": display sets (epoch, display set), in order.
std::string DisplaySetList(std::vector<std::pair<int, int>> sets);

}  // namespace veld
