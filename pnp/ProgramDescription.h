#pragma once

#include "pnp/InterfaceType.h"
#include "pnp/ProgramInterface.h"

#include <QHostAddress>
#include <QMap>
#include <QMetaType>
#include <QString>
#include <QUuid>
#include <QVector>

// One running acquisition program as it describes itself in discovery
// messages. A program instance is identified by its uuid.
class ProgramDescription {
public:
    ProgramDescription();

    // The first interface of the given type name (exact match) or, when none
    // matches, a default interface; *found tells which, when given.
    const ProgramInterface& getInterface(const QString& typeName, bool* found = nullptr) const;
    const ProgramInterface& getInterface(InterfaceType type, bool* found = nullptr) const;

    // Multi-line text for the operator.
    QString toText() const;

    QUuid uuid;
    quint32 seq = 0;
    QString name;
    QString type;
    QString index;
    QHostAddress host;
    QString hostName;
    QVector<ProgramInterface> interfaces;

private:
    ProgramInterface fallbackInterface;

public:
    QMap<QString, QString> options;
};

Q_DECLARE_METATYPE(ProgramDescription)
