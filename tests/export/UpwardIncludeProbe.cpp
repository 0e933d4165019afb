// Compiled only by the test Layers.ExportCannotIncludeTheEngine, with the
// include paths of a file of the export library: the lower layers' headers
// are found, the engine's is not, so this file must fail to compile at the
// engine's include and nowhere before it.
#include "cache/AttendanceCache.h"
#include "export/PDEWriter.h"
#include "util/XString.h"

#include "engine/ExpEngine.h"
