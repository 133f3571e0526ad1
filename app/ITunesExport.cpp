// The iTunes export stage is not built yet: the stage is called where it belongs in the
// transfer and does nothing. Its own file replaces this one.
#include "app/CopyThread.h"

namespace app {

void TCopyThread::AddToITunes() {}

} // namespace app
