#include "pnp/PnpMessage.h"

#include "pnp/XmlNode.h"

#include <QDomDocument>

#include <limits>

namespace {

const QString documentType = QStringLiteral("pnp_message");

// Safety limits of the reader: documents far beyond what a message needs would
// only make a datagram expensive to read.

// Messages nest three levels (root, list, entry); the reader keeps one open
// element per level, so a deep junk document must stop early.
constexpr int MaxNesting = 32;
// One token per byte of the largest UDP datagram: no valid message, however
// many interfaces or options it lists, is ever refused for its size.
constexpr int MaxTokens = 65536;
// Messages declare nothing in their document type; declarations only serve
// entity expansion, which a datagram has no use for.
constexpr int MaxDeclarations = 32;
// An element of a message has at most six attributes; hundreds of '=' in one
// tag cost the stream reader time quadratic in their number.
constexpr int MaxEqualsPerTag = 256;

constexpr XmlNode::Limits limits{MaxNesting, MaxTokens, MaxDeclarations, MaxEqualsPerTag};

// What a document exceeded, for its warning; empty when no limit was hit.
QString exceededLimit(XmlNode::Result result)
{
    switch (result) {
    case XmlNode::Result::TooDeep:
        return QStringLiteral("%1 nested elements").arg(MaxNesting);
    case XmlNode::Result::TooManyTokens:
        return QStringLiteral("%1 tokens").arg(MaxTokens);
    case XmlNode::Result::TooManyDeclarations:
        return QStringLiteral("%1 declarations").arg(MaxDeclarations);
    case XmlNode::Result::TooManyEquals:
        return QStringLiteral("%1 '=' in one tag").arg(MaxEqualsPerTag);
    default:
        return QString();
    }
}

QString flag(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

// Unsigned decimal text, 0 when it is not a number.
quint32 unsignedOrZero(const QString& text)
{
    bool ok = false;
    const quint32 value = text.toUInt(&ok);
    return ok ? value : 0;
}

void appendDescriptionAttributes(QDomElement& root, const ProgramDescription& pd)
{
    root.setAttribute("name", pd.name);
    root.setAttribute("type", pd.type);
    root.setAttribute("index", pd.index);
    root.setAttribute("hostName", pd.hostName);
    root.setAttribute("uuid", pd.uuid.toString());
    root.setAttribute("seq", QString::number(pd.seq));
}

void appendOptions(QDomDocument& doc, QDomElement& root, const QMap<QString, QString>& options)
{
    if (options.isEmpty())
        return;
    QDomElement list = doc.createElement("options");
    for (auto it = options.cbegin(); it != options.cend(); ++it) {
        QDomElement option = doc.createElement("option");
        option.setAttribute("name", it.key());
        option.setAttribute("value", it.value());
        list.appendChild(option);
    }
    root.appendChild(list);
}

void appendInterfaces(QDomDocument& doc, QDomElement& root, const QVector<ProgramInterface>& interfaces)
{
    if (interfaces.isEmpty())
        return;
    QDomElement list = doc.createElement("interfaces");
    for (const ProgramInterface& iface : interfaces) {
        QDomElement element = doc.createElement("interface");
        element.setAttribute("port", QString::number(iface.port));
        element.setAttribute("enabled", flag(iface.enabled));
        element.setAttribute("isFree", flag(iface.isFree));
        element.setAttribute("id", QString::number(iface.id));
        if (!iface.type.isEmpty())
            element.setAttribute("type", iface.type);
        list.appendChild(element);
    }
    root.appendChild(list);
}

QString rootName(PnpMessageType kind)
{
    switch (kind) {
    case DiscoverRequest:
        return QStringLiteral("discover_request");
    case ProgramAnnouncement:
        return QStringLiteral("program");
    case ProgramClose:
        return QStringLiteral("program_close");
    }
    return QString();
}

} // namespace

void PnpMessage::warn(const QString& text)
{
    warnings.append(text);
}

QString PnpMessage::toXml() const
{
    const QString name = rootName(kind);
    if (name.isEmpty())
        return QString();
    QDomDocument doc(documentType);
    QDomElement root = doc.createElement(name);
    doc.appendChild(root);
    if (kind == DiscoverRequest) {
        for (const QString& target : targets) {
            QDomElement element = doc.createElement("target");
            element.appendChild(doc.createTextNode(target));
            root.appendChild(element);
        }
    } else {
        appendDescriptionAttributes(root, program);
        if (kind == ProgramAnnouncement) {
            appendOptions(doc, root, program.options);
            appendInterfaces(doc, root, program.interfaces);
        }
    }
    return doc.toString(1);
}

bool PnpMessage::fromXml(const QByteArray& data, const QHostAddress& sender)
{
    // The sender writes one byte per character; reading the bytes the same
    // way lets every Latin-1 name travel unchanged.
    XmlNode root;
    QString doctype;
    const XmlNode::Result result = XmlNode::parseDocument(QString::fromLatin1(data), limits, &root, &doctype);
    if (result != XmlNode::Result::Parsed) {
        const QString limit = exceededLimit(result);
        if (!limit.isEmpty())
            warn(QStringLiteral("Datagram from %1 exceeds the reader's limit of %2").arg(sender.toString(), limit));
        return false;
    }
    if (doctype != documentType)
        return false;
    const QString& tag = root.name;
    if (tag == QLatin1String("discover_request")) {
        kind = DiscoverRequest;
        return readDiscoverRequest(root);
    }
    if (tag == QLatin1String("program"))
        kind = ProgramAnnouncement;
    else if (tag == QLatin1String("program_close"))
        kind = ProgramClose;
    else
        return false;
    return readRootAttributes(root, sender) && readChildren(root, sender);
}

bool PnpMessage::readDiscoverRequest(const XmlNode& root)
{
    for (const XmlNode& node : root.children) {
        if (!node.isElement || node.name != QLatin1String("target"))
            return false;
        targets.append(node.text);
    }
    return true;
}

bool PnpMessage::readRootAttributes(const XmlNode& root, const QHostAddress& sender)
{
    ProgramDescription& pd = program;
    auto missing = [this, &pd](const char* attribute) {
        warn(QStringLiteral("Program announce from %1 has no attribute %2").arg(pd.hostName, attribute));
    };
    if (root.hasAttribute("hostName")) {
        pd.hostName = root.attribute("hostName");
    } else {
        pd.hostName = sender.toString();
        missing("hostName");
    }
    if (!root.hasAttribute("name")) {
        missing("name");
        return false;
    }
    pd.name = root.attribute("name");
    if (root.hasAttribute("type"))
        pd.type = root.attribute("type");
    else
        missing("type");
    if (root.hasAttribute("index"))
        pd.index = root.attribute("index");
    else
        missing("index");
    if (!root.hasAttribute("uuid")) {
        missing("uuid");
        return false;
    }
    pd.uuid = QUuid(root.attribute("uuid"));
    if (root.hasAttribute("seq"))
        pd.seq = unsignedOrZero(root.attribute("seq"));
    pd.host = sender;
    return true;
}

bool PnpMessage::readChildren(const XmlNode& root, const QHostAddress& sender)
{
    ProgramDescription& pd = program;
    for (const XmlNode& child : root.children) {
        if (!child.isElement)
            continue;
        const QString& tag = child.name;
        bool ok = true;
        if (tag == QLatin1String("name"))
            pd.name = child.text;
        else if (tag == QLatin1String("type"))
            pd.type = child.text;
        else if (tag == QLatin1String("index"))
            pd.index = child.text;
        else if (tag == QLatin1String("hostName"))
            pd.hostName = child.text;
        else if (tag == QLatin1String("uuid"))
            pd.uuid = QUuid(child.text);
        else if (tag == QLatin1String("seq"))
            pd.seq = unsignedOrZero(child.text);
        else if (tag == QLatin1String("options"))
            ok = readOptions(child);
        else if (tag == QLatin1String("interfaces"))
            ok = readInterfaces(child, sender);
        else {
            warn(QStringLiteral("Unknown tag:%1 from: %2").arg(tag, sender.toString()));
            ok = false;
        }
        if (!ok)
            return false;
    }
    return true;
}

bool PnpMessage::readOptions(const XmlNode& element)
{
    const QString from = program.hostName;
    for (const XmlNode& option : element.children) {
        if (!option.isElement || option.name != QLatin1String("option")) {
            warn(QStringLiteral("Unexpected tag name:%1 from:%2").arg(option.name, from));
            return false;
        }
        for (const char* attribute : {"name", "value"}) {
            if (!option.hasAttribute(attribute)) {
                warn(QStringLiteral("There is no attribute :%1 from:%2").arg(attribute, from));
                return false;
            }
        }
        const QString name = option.attribute("name");
        if (!name.isEmpty())
            program.options.insert(name, option.attribute("value"));
    }
    return true;
}

bool PnpMessage::readInterfaces(const XmlNode& element, const QHostAddress& sender)
{
    for (const XmlNode& node : element.children) {
        if (!node.isElement || node.name != QLatin1String("interface")) {
            warn(QStringLiteral("Unknow tag (%1) in interface section from %2").arg(node.name, sender.toString()));
            return false;
        }
        if (!readInterface(node, sender))
            return false;
    }
    return true;
}

bool PnpMessage::readInterface(const XmlNode& element, const QHostAddress& sender)
{
    const QString from = sender.toString();
    if (!element.hasAttribute("type")) {
        warn(QStringLiteral("There is no attribute  (%1) in interface section from %2").arg("type", from));
        return false;
    }
    for (const char* attribute : {"port", "isFree"}) {
        if (!element.hasAttribute(attribute)) {
            warn(QStringLiteral("There is no attribute (%1) in interface section from %2").arg(attribute, from));
            return false;
        }
    }
    ProgramInterface iface;
    iface.host = sender;
    iface.type = element.attribute("type");
    bool ok = false;
    const int enabled = element.attribute("enabled").toInt(&ok);
    if (ok)
        iface.enabled = enabled == 1;
    const int isFree = element.attribute("isFree").toInt(&ok);
    if (ok)
        iface.isFree = isFree == 1;
    const int id = element.attribute("id").toInt(&ok);
    if (ok)
        iface.id = id;
    iface.port = unsignedOrZero(element.attribute("port"));
    // Sockets take 16 bits: a larger port would connect to another one.
    if (iface.port > std::numeric_limits<quint16>::max()) {
        warn(QStringLiteral("Port %1 out of range at interface from %2").arg(iface.port).arg(from));
        return false;
    }
    if (iface.port == 0 && iface.enabled) {
        warn(QStringLiteral("Empty port at enabled interface from ") + from);
        return false;
    }
    program.interfaces.append(iface);
    return true;
}
