#include <QByteArray>
#include <QtGlobal>

// Linked into the suites of the window: Qt's own event dispatcher there, which tells of every
// processEvents (the default one only of those that may sleep), so that a handler serving events
// fails its test even when nothing is pending. Set before the test main makes the application.
namespace {
const bool kStrictPump = qputenv("QT_NO_GLIB", "1");
}  // namespace
