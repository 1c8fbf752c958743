// SPDX-License-Identifier: GPL-3.0-or-later
// Interactive composition (the joined ICS fragments of a display set): pages, effects, button overlap
// groups, buttons and their commands; written back as the composition writer does.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/graphics/ic_data.h"

using namespace veld;

VELD_FUZZ_TARGET(composition) {
  CIcData ic;
  std::string error;
  if (ic.Parse(ByteSpan(data, size), &error) <= 0) return 0;
  std::string text;
  ic.Print(text);
  for (const CPage& page : ic.Pages) (void)page.UsesObject(0);
  Bytes out;
  try {
    if (ic.Write(&out) == 0) return 0;
  } catch (const CompositionTooLarge&) {
    return 0;  // a documented refusal of the writer
  }
  CIcData back;
  VELD_FUZZ_CHECK(back.Parse(out, &error) > 0);
  return 0;
}
