#pragma once

// QHostAddress travels through queued signals (datagram senders); Qt does not
// declare it to the meta-type system itself. Include this header rather than
// declaring it again.
#include <QHostAddress>
#include <QMetaType>

Q_DECLARE_METATYPE(QHostAddress)
