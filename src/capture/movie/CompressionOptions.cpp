// SPDX-License-Identifier: GPL-3.0-or-later
#include "CompressionOptions.h"

namespace quillora::capture {

CompressionOptionsPtr CompressionOptions::compressionOptionsWithIdentifier(const QString &identifier)
{
    auto options = std::make_shared<CompressionOptions>();
    options->m_identifier = identifier;
    if (identifier == kCompressionOptions240SizeH264Video) {
        options->m_mediaType = kMediaTypeVideo;
        options->m_box = QSize(320, 240);
        options->m_bitRate = 800'000;
    } else if (identifier == kCompressionOptionsSD480SizeH264Video) {
        options->m_mediaType = kMediaTypeVideo;
        options->m_box = QSize(640, 480);
        options->m_bitRate = 2'000'000;
    } else if (identifier == kCompressionOptionsHighQualityAACAudio) {
        options->m_mediaType = kMediaTypeSound;
        options->m_sampleRate = 48'000;
        options->m_bitRate = 160'000;
    } else {
        return nullptr;
    }
    return options;
}

} // namespace quillora::capture
