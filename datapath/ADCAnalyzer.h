#pragma once
// Decoder stage between the data sources (TCP client, file reader) and the
// display. It buffers raw blocks until they hold whole event records, decodes
// each record in place into an EventData, survives format errors by logging
// them and searching for the next sync word, keeps a map from absolute stream
// position to event number of the newest events, and returns one flow-control
// permit per block. While a channel's samples are still in cache it computes
// their features. Given a writer semaphore, it also sends every decoded board,
// without its samples, to the monitor (histograms, output writer) once per
// pass; the monitor never slows decoding down: a record without a permit is
// dropped and counted. Lives in a worker thread of its own; every slot arrives
// queued. The first analyzer of a process tunes glibc's heap so that large
// blocks and decoded samples reuse memory instead of faulting fresh pages in
// each time.

#include "datapath/EventData.h"
#include "datapath/FeatureExtractor.h"
#include "datapath/StreamFormat.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>

class QSemaphore;

class ADCAnalyzer : public QObject {
    Q_OBJECT
public:
    // A larger declared record length is a format error, so a corrupt length
    // field cannot make the pending buffer grow without end.
    static constexpr quint32 MaxRecordLength = StreamFormat::MaxRecordLength;
    // The pending buffer keeps at most this capacity between blocks.
    static constexpr int RetainedBufferCapacity = 64 * 1024 * 1024;
    // Boards of one deviceDataUpdated record at most.
    static constexpr int HistoryLimit = 1000;
    // evPosMap keeps the positions of this many newest events, so that a live
    // session of days stays within a fixed memory (about 50 MB at the limit).
    static constexpr int EvPosMapLimit = 1000000;
    // Live data are thinned to one emitted event per this many milliseconds.
    static constexpr qint64 LiveEmitIntervalMs = 500;

    ADCAnalyzer(QSemaphore* sourceSemaphore, QSemaphore* writerSemaphore, QObject* parent = nullptr);

    // Bytes received but not decoded yet: a record waiting for its rest, or
    // the start of a magic word cut by the end of the last block.
    int pendingBytes() const { return m_buffer.size(); }

    // Text for an error bit of an HPTDC error word ("Unknown" for other bits).
    static QString tdcErrorText(int bit);

    // Channel features are computed with this extractor (on by default). Off
    // for users that only need samples; set before the analyzer is moved to
    // its thread.
    void setFeatureExtractor(const FeatureExtractor& extractor);
    void setFeaturesComputed(bool on);

signals:
    void addLog(const QString& text);
    // Every decoded board of a pass, without samples, in records of at most
    // HistoryLimit boards; a record goes out only with a writer permit.
    void deviceDataUpdated(DeviceData data);
    // A record found no writer permit: its boards were dropped, not emitted.
    void deviceDataSkipped(int boards);
    void eventDataUpdated(EventData data);
    void eventMapUpdated(QMap<quint32, quint32> evPosMap);

public slots:
    void dataAccuired(QByteArray newData);
    void read();
    void adcRawDataSignedUpdated(bool adcSigned);
    void dataSourceUpdated(bool fromFile);
    // A source has begun a new stream (a new connection, a record read on its
    // own): a record the old one left unfinished is dropped, not completed
    // with new bytes.
    void streamStarted();

private:
    // A stream format error; aborts the event being decoded.
    struct FormatError {
        QString text;
    };
    enum class ParseResult { Consumed, NeedMoreData };

    ParseResult parseEvent();
    bool holdsWholeRecord(quint32 headerSize, quint32 length) const;
    void decodeEventPayload(quint32 length);
    quint32 decodeDevice(quint32 remaining);
    void decodeBlocks(quint32 deviceLength);
    void decodeBoardHeader(const char* payload);
    void decodeChannel(quint32 channel, const char* payload, quint32 words);
    void checkChannelMask() const;
    void finishEvent();
    void recordPosition(quint32 position, quint32 evNum);
    void addToHistory(DeviceEvent board);
    void emitHistory();
    bool findSync();
    int cutSyncWordLength() const;
    void dropConsumedBytes();
    void dropPendingBytes();

    QSemaphore* m_sourceSemaphore;
    QSemaphore* m_writerSemaphore; // one permit per emitted DeviceData, returned by the writer

    QByteArray m_buffer; // received bytes not yet consumed
    int m_readPos = 0;   // offsets into m_buffer
    quint32 m_eventStart = 0;
    quint32 m_streamBase = 0; // bytes dropped from the front of m_buffer so far

    EventData m_event;       // event being decoded
    DeviceEvent m_board;     // board being decoded
    quint64 m_adcChMask = 0; // mask of the last board header block, kept across boards
    QMap<quint32, quint32> m_evPosMap;
    DeviceData m_history; // boards of the pass not yet emitted, samples stripped
    FeatureExtractor m_features;
    bool m_featuresComputed = true;

    bool m_adcSigned = true;
    bool m_fromFile = false;
    QElapsedTimer m_emitTimer;
};
