// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The movie's compression presets, by identifier: the box the picture is fitted into and its
// bit rate; the sound's sample rate and bit rate.
#include <QSize>
#include <QString>

#include <memory>

namespace quillora::capture {

// Media types of connections, compared as strings.
inline const QString kMediaTypeVideo = QStringLiteral("vide");
inline const QString kMediaTypeSound = QStringLiteral("soun");

// Compression presets by identifier.
inline const QString kCompressionOptions240SizeH264Video = QStringLiteral("QTCompressionOptions240SizeH264Video");
inline const QString kCompressionOptionsSD480SizeH264Video = QStringLiteral("QTCompressionOptionsSD480SizeH264Video");
inline const QString kCompressionOptionsHighQualityAACAudio = QStringLiteral("QTCompressionOptionsHighQualityAACAudio");

class CompressionOptions {
public:
    // The preset of that identifier; nullptr for an identifier this program does not know.
    static std::shared_ptr<const CompressionOptions> compressionOptionsWithIdentifier(const QString &identifier);

    QString identifier() const { return m_identifier; }
    QString mediaType() const { return m_mediaType; }
    // Video: the box the picture is fitted into, the camera's aspect kept.
    QSize maximumSize() const { return m_box; }
    // Bits per second of the compressed stream.
    int bitRate() const { return m_bitRate; }
    // Sound: samples per second.
    int sampleRate() const { return m_sampleRate; }

private:
    QString m_identifier;
    QString m_mediaType;
    QSize m_box;
    int m_bitRate = 0;
    int m_sampleRate = 0;
};
using CompressionOptionsPtr = std::shared_ptr<const CompressionOptions>;

} // namespace quillora::capture
