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

PnpMessage message(PnpMessageType kind, const ProgramDescription& pd = sampleProgram())
{
    PnpMessage m;
    m.kind = kind;
    m.program = pd;
    return m;
}

PnpMessage roundTrip(const PnpMessage& written)
{
    PnpMessage read;
    EXPECT_TRUE(read.fromXml(written.toXml().toLatin1(), sender)) << qPrintable(written.toXml());
    return read;
}

// Everything of an interface that travels (its host is the sender's).
QString describe(const ProgramInterface& i)
{
    return QStringList{i.type,
                       QString::number(i.port),
                       QString::number(i.enabled),
                       QString::number(i.isFree),
                       QString::number(i.id),
                       i.host.toString()}
        .join(' ');
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

TEST(ProgramDescription, TypeNamesFreshUuidsInterfaceLookupAndOperatorText)
{
    QStringList programs, interfaces;
    for (int i = -1; i <= 10; ++i)
        programs << programTypeName(i);
    for (int i = -1; i <= 4; ++i)
        interfaces << interfaceTypeName(i);
    EXPECT_EQ(programs.join('|'), "|RavelSystem|Qol|Tamber|Orrin|ZelAnalyzer|ZelSystem|Nimbus|Brantle|Ostrel|Vimmer|");
    EXPECT_EQ(interfaces.join('|'), "|empty|RemoteControl|data flow|Monitor output data flow|");
    EXPECT_NE(ProgramDescription().uuid, ProgramDescription().uuid);

    ProgramDescription pd = sampleProgram();
    bool found = false;
    EXPECT_EQ(pd.getInterface(MonitorDataFlowInterface, &found).port, 33400u);
    EXPECT_TRUE(found);
    EXPECT_EQ(pd.getInterface(QStringLiteral("RemoteControl"), &found).id, 1);
    EXPECT_TRUE(found);
    EXPECT_EQ(describe(pd.getInterface(QStringLiteral("remotecontrol"), &found)), describe(ProgramInterface()));
    EXPECT_FALSE(found);
    EXPECT_EQ(pd.getInterface(DataFlowInterface).port, 0u); // no flag pointer

    pd.host = sender;
    ProgramInterface free;
    free.port = 1;
    free.type = QStringLiteral("x");
    pd.interfaces << free;
    EXPECT_EQ(pd.toText(),
              QStringLiteral("Name:Acquisition Zürich\nType:Nimbus\nIndex:7\nhost: 10.1.2.3\n"
                             "hostName:daq-host\nUuid:%1\nSeq:42\n"
                             "Interface 1: (busy)\n\ttype: Monitor output data flow\n\t  id: -3\n\tport: "
                             "33400\nInterface 2: (disabled)\n\ttype: RemoteControl\n\t  id: 1\n\tport: 0\n"
                             "Interface 3:\n\ttype: x\n\t  id: 0\n\tport: 1\n"
                             "Options:\n\tmode: test <&>\n\trun: 12")
                  .arg(uuidText));
    EXPECT_EQ(ProgramDescription().toText().count('\n'), 6);
}

TEST(PnpMessageWriter, DocumentLayout)
{
    PnpMessage request;
    EXPECT_EQ(request.toXml(), "<!DOCTYPE pnp_message>\n<discover_request/>\n");
    request.targets = QStringList{"Nimbus", "Qol"};
    EXPECT_EQ(request.toXml(), "<!DOCTYPE pnp_message>\n<discover_request>\n <target>Nimbus</target>\n"
                               " <target>Qol</target>\n</discover_request>\n");

    PnpMessage announce = message(ProgramAnnouncement);
    announce.program.interfaces[1].type.clear();
    const QString xml = announce.toXml();
    EXPECT_TRUE(xml.contains(QStringLiteral("uuid=\"%1\"").arg(uuidText))) << qPrintable(xml);
    EXPECT_TRUE(xml.contains("\n <options>\n  <option ")) << qPrintable(xml);
    EXPECT_EQ(xml.count("type="), 2) << qPrintable(xml); // root and the typed interface only
    EXPECT_LT(xml.indexOf("<options>"), xml.indexOf("<interfaces>"));

    const QString close = message(ProgramClose).toXml();
    EXPECT_TRUE(close.contains("<program_close ")) << qPrintable(close);
    EXPECT_FALSE(close.contains("interface") || close.contains("option")) << qPrintable(close);
    EXPECT_TRUE(message(PnpMessageType(3)).toXml().isEmpty());
}

TEST(PnpMessageRoundTrip, EveryKindKeepsItsFields)
{
    ProgramDescription a = sampleProgram();
    a.host = sender; // not written, taken from the datagram
    const PnpMessage announced = roundTrip(message(ProgramAnnouncement, a));
    EXPECT_EQ(announced.kind, ProgramAnnouncement);
    EXPECT_EQ(announced.program.toText(), a.toText()); // Latin-1 names survive the trip
    EXPECT_EQ(announced.program.interfaces.value(1).host, sender);
    const PnpMessage close = roundTrip(message(ProgramClose, a));
    EXPECT_EQ(close.kind, ProgramClose);
    EXPECT_EQ(close.program.toText(), a.toText().section("\nInterface", 0, 0)); // no interfaces, no options

    PnpMessage request;
    EXPECT_TRUE(roundTrip(request).targets.isEmpty()); // a request for all types
    request.targets = QStringList{"Nimbus", "Qol"};
    EXPECT_EQ(roundTrip(request).kind, DiscoverRequest);
    EXPECT_EQ(roundTrip(request).targets, request.targets);
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
        {announcement("", "<options><option name=\"a\" value=\"1\"/><opt/></options>"),
         false,
         {"Unexpected tag name:opt from:h"}},
        {announcement("", "<options><option value=\"1\"/></options>"), false, {"There is no attribute :name from:h"}},
        {announcement("", "<options><option name=\"a\"/></options>"), false, {"There is no attribute :value from:h"}},
        {announcement("", "<hostName>other</hostName><options><o/></options>"),
         false,
         {"Unexpected tag name:o from:other"}},
        {announcement("", "<interfaces><port/></interfaces>"), false, {"Unknow tag (port)" + section}},
        {withInterface("port=\"1\" isFree=\"1\""), false, {"There is no attribute  (type)" + section}},
        {withInterface("type=\"t\" isFree=\"1\""), false, {"There is no attribute (port)" + section}},
        {withInterface("type=\"t\" port=\"1\""), false, {"There is no attribute (isFree)" + section}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"1\""), false, {emptyPort}},
        {withInterface("type=\"t\" port=\"-5\" isFree=\"1\" enabled=\"x\""), false, {emptyPort}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"1\" enabled=\"0\""), true, {}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"0\" enabled=\"2\""), true, {}}, // only 1 enables
        {announcement("", "<interfaces><interface type=\"t\"/></interfaces><bad/>"),
         false,
         {"There is no attribute (port)" + section}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.constData());
        MessageLog capture;
        PnpMessage read;
        EXPECT_EQ(read.fromXml(c.data, sender), c.accepted);
        EXPECT_EQ(capture.warnings(), c.warnings);
    }
}

TEST(PnpMessageReader, ChildrenOverrideAttributesAndOddValuesAreLenient)
{
    PnpMessage read;
    ASSERT_TRUE(read.fromXml(announcement("", "<name>N2</name><type>Qol</type><index>9</index><hostName>H2</hostName>"
                                              "<uuid>{11111111-2222-4333-8444-555555555555}</uuid><seq>77</seq>"),
                             sender));
    EXPECT_EQ(QStringList({read.program.name, read.program.type, read.program.index, read.program.hostName}),
              QStringList({"N2", "Qol", "9", "H2"}));
    EXPECT_EQ(read.program.uuid, QUuid("{11111111-2222-4333-8444-555555555555}"));
    EXPECT_EQ(read.program.seq, 77u);

    MessageLog capture;
    PnpMessage lenient;
    ASSERT_TRUE(lenient.fromXml(
        "<!DOCTYPE pnp_message><program name=\"n\" uuid=\"not a uuid\" seq=\"-1\" hostName=\"h\" type=\"T\" index=\"1\">"
        "<options><option name=\"a\" value=\"1\"/><option name=\"\" value=\"x\"/><option name=\"a\" value=\"2\"/>"
        "</options><interfaces><interface type=\"t\" port=\"80\" isFree=\"0\" enabled=\"x\" id=\"y\"/>"
        "<interface type=\"u\" port=\"81\" isFree=\"z\" id=\"-4\"/></interfaces></program>",
        sender));
    const ProgramDescription& pd = lenient.program;
    EXPECT_TRUE(pd.uuid.isNull());
    EXPECT_EQ(pd.seq, 0u);
    EXPECT_EQ(pd.options, (QMap<QString, QString>{{"a", "2"}}));
    ASSERT_EQ(pd.interfaces.size(), 2);
    EXPECT_EQ(describe(pd.interfaces[0]), "t 80 1 0 0 10.1.2.3");
    EXPECT_EQ(describe(pd.interfaces[1]), "u 81 1 1 -4 10.1.2.3");
    EXPECT_TRUE(capture.warnings().isEmpty());
}
