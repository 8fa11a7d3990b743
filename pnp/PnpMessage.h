#pragma once

#include "pnp/ProgramDescription.h"

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>

struct XmlNode;

#include <QMetaType>

enum PnpMessageType { DiscoverRequest = 0, ProgramAnnouncement = 1, ProgramClose = 2 };

// One discovery message: a discover request (who is out there?), a program
// announcement or a program close. On the wire it is one XML document of
// document type "pnp_message" per UDP datagram, one byte per character.
class PnpMessage {
public:
    // The document text for this message's kind; empty for an unknown kind.
    QString toXml() const;
    // Reads one datagram from sender; false when it is not a valid message, in
    // which case the record is to be discarded whole. The reader's complaints
    // (for most faults, and for accepted messages with missing fields) are
    // left in warnings for the caller to write: a flood of bad datagrams must
    // not become a flood of log lines.
    bool fromXml(const QByteArray& data, const QHostAddress& sender);

    PnpMessageType kind = DiscoverRequest;
    QStringList targets;
    ProgramDescription program;
    QStringList warnings;

private:
    void warn(const QString& text);
    bool readDiscoverRequest(const XmlNode& root);
    bool readRootAttributes(const XmlNode& root, const QHostAddress& sender);
    bool readChildren(const XmlNode& root, const QHostAddress& sender);
    bool readOptions(const XmlNode& element);
    bool readInterfaces(const XmlNode& element, const QHostAddress& sender);
    bool readInterface(const XmlNode& element, const QHostAddress& sender);
};

// Read messages travel from the listener threads to the discovery server.
Q_DECLARE_METATYPE(PnpMessage)
