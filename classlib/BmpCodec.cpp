#include "classlib/Bitmap.h"
#include "classlib/Exception.h"

// FIXME: BMP reading and writing are being written; until then they refuse.
namespace muralo {
void TBitmap::LoadFromStream(TStream&) { throw EInvalidGraphic("Lecture BMP pas encore construite"); }
void TBitmap::SaveToStream(TStream&) { throw EWriteError(); }
}  // namespace muralo
