// SPDX-License-Identifier: GPL-3.0-or-later
// Movie-object file (MovieObject.bdmv), as the disc opening reads it, and the text of its commands.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/disc/movie_object.h"

using namespace veld;

VELD_FUZZ_TARGET(movie_object) {
  CMoObject objects;
  std::string error;
  if (objects.parse(ByteSpan(data, size), &error) <= 0) return 0;
  for (const CMovieObject& object : objects.data.MovieObjects)
    for (const NavCommand& command : object.NavCmds.commands) (void)disassemble(command);
  return 0;
}
