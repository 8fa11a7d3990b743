// The program description, the type name tables and the discovery message
// writer and reader (no network).
#include "pnp/PnpMessage.h"
#include "pnp/ProgramType.h"
#include "tests/MessageLog.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

const QHostAddress sender(QStringLiteral("10.1.2.3"));
const QString uuidText = QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}");

ProgramDescription sampleProgram()
{
    ProgramDescription pd;
    pd.uuid = QUuid(uuidText);
    pd.name = QStringLiteral("Acquisition Zürich");
    pd.type = QStringLiteral("Nimbus");
    pd.index = QStringLiteral("7");
    pd.hostName = QStringLiteral("daq-host");
    pd.seq = 42;
    pd.options = {{"run", "12"}, {"mode", "test <&>"}};
    ProgramInterface data, control;
    data.port = 33400;
    data.type = interfaceTypeName(MonitorDataFlowInterface);
    data.isFree = false;
    data.id = -3;
    control.type = interfaceTypeName(RemoteControlInterface);
    control.enabled = false;
    control.id = 1;
    pd.interfaces << data << control;
    return pd;
}

PnpMessage roundTrip(PnpMessageType kind, const ProgramDescription& pd, const QStringList& targets = {})
{
    PnpMessage written, read;
    written.kind = kind;
    written.program = pd;
    written.targets = targets;
    EXPECT_TRUE(read.fromXml(written.toXml().toLatin1(), sender)) << qPrintable(written.toXml());
    return read;
}

// A valid announcement with one root attribute left out ("" for none) and
// the given children.
QByteArray announcement(const char* without, const QString& body = QString(), const char* root = "program")
{
    QString attributes =
        QStringLiteral("name=\"n\" type=\"Nimbus\" index=\"1\" hostName=\"h\" uuid=\"%1\" seq=\"5\"").arg(uuidText);
    if (*without)
        attributes.remove(QRegularExpression(QStringLiteral("\\b%1=\"[^\"]*\"").arg(without)));
    return QStringLiteral("<!DOCTYPE pnp_message>\n<%1 %2>%3</%1>\n").arg(root, attributes, body).toLatin1();
}

QByteArray withInterface(const QString& attributes)
{
    return announcement("", QStringLiteral("<interfaces><interface %1/></interfaces>").arg(attributes));
}

QString noAttribute(const char* name, const char* from = "h")
{
    return QStringLiteral("Program announce from %1 has no attribute %2").arg(from, name);
}

} // namespace

TEST(ProgramDescription, TypeNamesAndOperatorText)
{
    QStringList names;
    for (int i = -1; i <= 10; ++i)
        names << programTypeName(i);
    for (int i = -1; i <= 4; ++i)
        names << interfaceTypeName(i);
    EXPECT_EQ(names.join('|'), "|RavelSystem|Qol|Tamber|Orrin|ZelAnalyzer|ZelSystem|Nimbus|Brantle|Ostrel|Vimmer||"
                               "|empty|RemoteControl|data flow|Monitor output data flow|");

    ProgramDescription pd = sampleProgram();
    EXPECT_EQ(pd.getInterface(QStringLiteral("remotecontrol")).port, 0u); // names match exactly
    pd.host = sender;
    EXPECT_EQ(pd.toText(),
              QStringLiteral("Name:Acquisition Zürich\nType:Nimbus\nIndex:7\nhost: 10.1.2.3\n"
                             "hostName:daq-host\nUuid:%1\nSeq:42\n"
                             "Interface 1: (busy)\n\ttype: Monitor output data flow\n\t  id: -3\n\tport: "
                             "33400\nInterface 2: (disabled)\n\ttype: RemoteControl\n\t  id: 1\n\tport: 0\n"
                             "Options:\n\tmode: test <&>\n\trun: 12")
                  .arg(uuidText));
}

TEST(PnpMessage, RequestLayoutAndRoundTripOfEveryKind)
{
    PnpMessage request;
    EXPECT_EQ(request.toXml(), "<!DOCTYPE pnp_message>\n<discover_request/>\n");
    request.targets = QStringList{"Nimbus", "Qol"};
    EXPECT_EQ(request.toXml(), "<!DOCTYPE pnp_message>\n<discover_request>\n <target>Nimbus</target>\n"
                               " <target>Qol</target>\n</discover_request>\n");
    EXPECT_EQ(roundTrip(DiscoverRequest, {}, request.targets).targets, request.targets);

    ProgramDescription a = sampleProgram();
    a.host = sender; // not written, taken from the datagram
    const PnpMessage announced = roundTrip(ProgramAnnouncement, a);
    EXPECT_EQ(announced.kind, ProgramAnnouncement);
    EXPECT_EQ(announced.program.toText(), a.toText()); // Latin-1 names survive the trip
    EXPECT_EQ(announced.program.interfaces.value(1).host, sender);
    const PnpMessage close = roundTrip(ProgramClose, a);
    EXPECT_EQ(close.kind, ProgramClose);
    EXPECT_EQ(close.program.toText(), a.toText().section("\nInterface", 0, 0)); // no interfaces, no options
}

// Hand-written datagrams: whether each is accepted and the warnings it gives.
TEST(PnpMessageReader, FaultyDocumentsAreRejectedWithTheirWarnings)
{
    const QString section = QStringLiteral(" in interface section from 10.1.2.3");
    const QString emptyPort = QStringLiteral("Empty port at enabled interface from 10.1.2.3");
    const struct {
        QByteArray data;
        bool accepted;
        QStringList warnings;
    } cases[] = {
        {"<!DOCTYPE pnp_message>\n<program name=\"x\">", false, {}},
        {QByteArray("\x00\xff\x01<<", 5), false, {}},
        {"<program name=\"n\" uuid=\"{}\"/>", false, {}},
        {"<!DOCTYPE pnp>\n<discover_request/>", false, {}},
        {announcement("", "", "announce"), false, {}},
        {"<!DOCTYPE pnp_message><discover_request><target>Qol</target><x/></discover_request>", false, {}},
        {"<!DOCTYPE pnp_message><discover_request>Qol</discover_request>", false, {}},
        {announcement("hostName"), true, {noAttribute("hostName", "10.1.2.3")}},
        {announcement("name"), false, {noAttribute("name")}},
        {"<!DOCTYPE pnp_message><program uuid=\"{}\"/>",
         false,
         {noAttribute("hostName", "10.1.2.3"), noAttribute("name", "10.1.2.3")}},
        {announcement("type"), true, {noAttribute("type")}},
        {announcement("index"), true, {noAttribute("index")}},
        {announcement("uuid"), false, {noAttribute("uuid")}},
        {announcement("uuid", "", "program_close"), false, {noAttribute("uuid")}},
        {announcement("name", "<name>n</name>"), false, {noAttribute("name")}}, // no child for a required attribute
        {announcement("", "<name>a</name><extra/>"), false, {"Unknown tag:extra from: 10.1.2.3"}},
        {announcement("", "<options><opt/></options>"), false, {"Unexpected tag name:opt from:h"}},
        {announcement("", "<options><option value=\"1\"/></options>"), false, {"There is no attribute :name from:h"}},
        {announcement("", "<options><option name=\"a\"/></options>"), false, {"There is no attribute :value from:h"}},
        {announcement("", "<hostName>other</hostName><options><o/></options>"),
         false,
         {"Unexpected tag name:o from:other"}},
        {announcement("", "<interfaces><port/></interfaces>"), false, {"Unknow tag (port)" + section}},
        {withInterface("port=\"1\" isFree=\"1\""), false, {"There is no attribute  (type)" + section}},
        {withInterface("type=\"t\" isFree=\"1\""), false, {"There is no attribute (port)" + section}},
        {withInterface("type=\"t\" port=\"1\""), false, {"There is no attribute (isFree)" + section}},
        {withInterface("type=\"t\" port=\"-5\" isFree=\"1\" enabled=\"x\""), false, {emptyPort}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"1\" enabled=\"0\""), true, {}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"0\" enabled=\"2\""), true, {}}, // only 1 enables
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.constData());
        MessageLog capture;
        PnpMessage read;
        EXPECT_EQ(read.fromXml(c.data, sender), c.accepted);
        EXPECT_EQ(capture.warnings(), c.warnings);
    }
}
