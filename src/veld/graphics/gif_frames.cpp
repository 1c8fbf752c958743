// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gif_frames.h"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace veld {
namespace {

struct Source {
  ByteSpan data;
  std::size_t pos = 0;
};

int Read(GifFileType* gif, GifByteType* buffer, int size) {
  auto* src = static_cast<Source*>(gif->UserData);
  if (size <= 0) return 0;
  const std::size_t n = std::min(static_cast<std::size_t>(size), src->data.size() - src->pos);
  std::memcpy(buffer, src->data.data() + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

struct Closer {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// Skips the compressed data of the frame whose descriptor was just read.
bool SkipFrameData(GifFileType* gif) {
  int code_size = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &code_size, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetCodeNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

bool SkipExtension(GifFileType* gif) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

}  // namespace

int CountGifFrames(ByteSpan data) {
  Source src{data};
  int status = 0;
  std::unique_ptr<GifFileType, Closer> gif(DGifOpen(&src, Read, &status));
  if (!gif) return 0;
  int frames = 0;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return 0;
    switch (type) {
      case TERMINATE_RECORD_TYPE:
        return frames;
      case EXTENSION_RECORD_TYPE:
        if (!SkipExtension(gif.get())) return 0;
        break;
      case IMAGE_DESC_RECORD_TYPE:
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR || !SkipFrameData(gif.get())) return 0;
        ++frames;
        break;
      default:
        return 0;
    }
  }
}

}  // namespace veld
