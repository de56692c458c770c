#include "VemoViewController.h"

namespace quillora::app {

// PLACEHOLDER(movies): the recording configuration lands with the movie output.
void VemoViewController::addMovieFileOutput() {}
void VemoViewController::recordingClick(QObject *) {}
void VemoViewController::captureOutputDidFinishRecordingToOutputFileAtURL(capture::MovieFileOutput *, const QUrl &,
                                                                          const QString &)
{
}

} // namespace quillora::app
