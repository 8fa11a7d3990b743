// The program description, the type name tables and the discovery message
// writer and reader (no network).
#include "pnp/PnpMessage.h"
#include "pnp/ProgramType.h"
#include "tests/MessageLog.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <vector>

namespace {

const QHostAddress sender(QStringLiteral("10.1.2.3"));
const QString uuidText = QStringLiteral("{0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d}");

ProgramDescription sampleProgram()
{
    ProgramDescription pd;
    pd.name = QStringLiteral("Acquisition Zürich");
    pd.type = QStringLiteral("Nimbus");
    pd.index = QStringLiteral("7");
    pd.hostName = QStringLiteral("daq-host");
    pd.seq = 42;
    pd.options.insert(QStringLiteral("run"), QStringLiteral("12"));
    pd.options.insert(QStringLiteral("mode"), QStringLiteral("test <&>"));
    ProgramInterface data;
    data.port = 33400;
    data.type = interfaceTypeName(MonitorDataFlowInterface);
    data.isFree = false;
    data.id = -3;
    ProgramInterface control;
    control.port = 0;
    control.type = interfaceTypeName(RemoteControlInterface);
    control.enabled = false;
    control.id = 1;
    pd.interfaces << data << control;
    return pd;
}

PnpMessage roundTrip(const PnpMessage& message, bool* ok)
{
    PnpMessage read;
    *ok = read.fromXml(message.toXml().toLatin1(), sender);
    return read;
}

void expectSameInterface(const ProgramInterface& a, const ProgramInterface& b)
{
    EXPECT_EQ(a.port, b.port);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.enabled, b.enabled);
    EXPECT_EQ(a.isFree, b.isFree);
    EXPECT_EQ(a.id, b.id);
}

// An announcement document with the given root attributes and children.
QByteArray document(const QString& root, const QString& attributes, const QString& body = QString())
{
    return QStringLiteral("<!DOCTYPE pnp_message>\n<%1 %2>%3</%1>\n").arg(root, attributes, body).toLatin1();
}

const QString allAttributes =
    QStringLiteral("name=\"n\" type=\"Nimbus\" index=\"1\" hostName=\"h\" uuid=\"%1\" seq=\"5\"").arg(uuidText);

QByteArray announcementWith(const QString& body)
{
    return document(QStringLiteral("program"), allAttributes, body);
}

} // namespace

TEST(TypeNames, TablesAndOutOfRangeValues)
{
    const QStringList programs = {"RavelSystem", "Qol",    "Tamber",  "Orrin",  "ZelAnalyzer",
                                  "ZelSystem",   "Nimbus", "Brantle", "Ostrel", "Vimmer"};
    for (int i = 0; i < programs.size(); ++i)
        EXPECT_EQ(programTypeName(i), programs[i]);
    const QStringList interfaces = {"empty", "RemoteControl", "data flow", "Monitor output data flow"};
    for (int i = 0; i < interfaces.size(); ++i)
        EXPECT_EQ(interfaceTypeName(i), interfaces[i]);
    EXPECT_TRUE(programTypeName(10).isEmpty());
    EXPECT_TRUE(programTypeName(-1).isEmpty());
    EXPECT_TRUE(interfaceTypeName(4).isEmpty());
}

TEST(ProgramDescription, DefaultsAndInterfaceLookup)
{
    const ProgramDescription a, b;
    EXPECT_FALSE(a.uuid.isNull());
    EXPECT_NE(a.uuid, b.uuid);
    EXPECT_FALSE(a.hostName.isEmpty());

    const ProgramDescription pd = sampleProgram();
    bool found = false;
    EXPECT_EQ(pd.getInterface(MonitorDataFlowInterface, &found).port, 33400u);
    EXPECT_TRUE(found);
    EXPECT_EQ(pd.getInterface(QStringLiteral("RemoteControl"), &found).id, 1);
    EXPECT_TRUE(found);

    const ProgramInterface& none = pd.getInterface(QStringLiteral("remotecontrol"), &found);
    EXPECT_FALSE(found);
    expectSameInterface(none, ProgramInterface());
    EXPECT_TRUE(none.enabled && none.isFree);
    EXPECT_EQ(pd.getInterface(DataFlowInterface).port, 0u); // no flag pointer
}

TEST(ProgramDescription, TextForTheOperator)
{
    ProgramDescription pd = sampleProgram();
    pd.uuid = QUuid(uuidText);
    pd.host = sender;
    ProgramInterface free;
    free.port = 1;
    free.type = QStringLiteral("x");
    pd.interfaces << free;
    EXPECT_EQ(pd.toText(),
              QStringLiteral("Name:Acquisition Zürich\nType:Nimbus\nIndex:7\nhost: 10.1.2.3\n"
                             "hostName:daq-host\nUuid:%1\nSeq:42\n"
                             "Interface 1: (busy)\n\ttype: Monitor output data flow\n\t  id: -3\n\tport: 33400\n"
                             "Interface 2: (disabled)\n\ttype: RemoteControl\n\t  id: 1\n\tport: 0\n"
                             "Interface 3:\n\ttype: x\n\t  id: 0\n\tport: 1\n"
                             "Options:\n\tmode: test <&>\n\trun: 12")
                  .arg(uuidText));
    EXPECT_EQ(ProgramDescription().toText().count('\n'), 6);
}

TEST(PnpMessageWriter, DocumentLayout)
{
    PnpMessage request;
    EXPECT_EQ(request.toXml(), QStringLiteral("<!DOCTYPE pnp_message>\n<discover_request/>\n"));
    request.targets << "Nimbus"
                    << "Qol";
    EXPECT_EQ(request.toXml(), QStringLiteral("<!DOCTYPE pnp_message>\n<discover_request>\n <target>Nimbus</target>\n"
                                              " <target>Qol</target>\n</discover_request>\n"));

    PnpMessage announcement;
    announcement.kind = ProgramAnnouncement;
    announcement.program = sampleProgram();
    announcement.program.uuid = QUuid(uuidText);
    announcement.program.interfaces[1].type.clear();
    const QString xml = announcement.toXml();
    EXPECT_TRUE(xml.contains(QStringLiteral("uuid=\"%1\"").arg(uuidText)));
    EXPECT_TRUE(xml.contains(QStringLiteral("\n <options>\n  <option ")));
    EXPECT_EQ(xml.count(QStringLiteral("type=")), 2) << qPrintable(xml); // root and the typed interface only
    EXPECT_LT(xml.indexOf("<options>"), xml.indexOf("<interfaces>"));

    PnpMessage close = announcement;
    close.kind = ProgramClose;
    EXPECT_TRUE(close.toXml().contains(QStringLiteral("<program_close ")));
    EXPECT_FALSE(close.toXml().contains(QStringLiteral("interface")));
    EXPECT_FALSE(close.toXml().contains(QStringLiteral("option")));

    close.kind = PnpMessageType(3);
    EXPECT_TRUE(close.toXml().isEmpty());
}

TEST(PnpMessageRoundTrip, Announcement)
{
    PnpMessage message;
    message.kind = ProgramAnnouncement;
    message.program = sampleProgram();
    bool ok = false;
    const PnpMessage read = roundTrip(message, &ok);
    ASSERT_TRUE(ok);
    const ProgramDescription& a = message.program;
    const ProgramDescription& b = read.program;
    EXPECT_EQ(read.kind, ProgramAnnouncement);
    EXPECT_EQ(b.uuid, a.uuid);
    EXPECT_EQ(b.seq, a.seq);
    EXPECT_EQ(b.name, a.name); // Latin-1 survives the trip
    EXPECT_EQ(b.type, a.type);
    EXPECT_EQ(b.index, a.index);
    EXPECT_EQ(b.hostName, a.hostName);
    EXPECT_EQ(b.options, a.options);
    EXPECT_EQ(b.host, sender);
    ASSERT_EQ(b.interfaces.size(), 2);
    for (int i = 0; i < 2; ++i) {
        expectSameInterface(b.interfaces[i], a.interfaces[i]);
        EXPECT_EQ(b.interfaces[i].host, sender);
    }
}

TEST(PnpMessageRoundTrip, CloseAndDiscoverRequests)
{
    PnpMessage close;
    close.kind = ProgramClose;
    close.program = sampleProgram();
    bool ok = false;
    PnpMessage read = roundTrip(close, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(read.kind, ProgramClose);
    EXPECT_EQ(read.program.uuid, close.program.uuid);
    EXPECT_EQ(read.program.name, close.program.name);
    EXPECT_EQ(read.program.seq, 42u);
    EXPECT_TRUE(read.program.interfaces.isEmpty());
    EXPECT_TRUE(read.program.options.isEmpty());

    PnpMessage request;
    request.targets << "Nimbus"
                    << "Qol";
    read = roundTrip(request, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(read.kind, DiscoverRequest);
    EXPECT_EQ(read.targets, request.targets);

    read = roundTrip(PnpMessage(), &ok);
    ASSERT_TRUE(ok);
    EXPECT_TRUE(read.targets.isEmpty()); // a request for all types
}

// A hand-written datagram, whether it is accepted and the warnings it gives.
struct ReaderCase {
    const char* what;
    QByteArray data;
    bool accepted;
    QStringList warnings;
};

class PnpMessageReader : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(PnpMessageReader, AcceptsOrRejectsWithTheWarnings)
{
    const ReaderCase& c = GetParam();
    MessageLog capture;
    PnpMessage message;
    EXPECT_EQ(message.fromXml(c.data, sender), c.accepted) << c.data.constData();
    EXPECT_EQ(capture.warnings(), c.warnings);
}

namespace {

QString noAttribute(const char* name, const char* from = "h")
{
    return QStringLiteral("Program announce from %1 has no attribute %2").arg(from, name);
}

QString withoutAttribute(const char* attribute)
{
    QString attributes = allAttributes;
    attributes.remove(QRegularExpression(QStringLiteral("\\b%1=\"[^\"]*\"").arg(attribute)));
    return attributes;
}

QByteArray interfaceWith(const QString& attributes)
{
    return announcementWith(QStringLiteral("<interfaces><interface %1/></interfaces>").arg(attributes));
}

QByteArray optionsWith(const QString& body)
{
    return announcementWith(QStringLiteral("<options>%1</options>").arg(body));
}

const QString from = QStringLiteral(" in interface section from 10.1.2.3");

std::vector<ReaderCase> readerCases()
{
    const QString program = QStringLiteral("program");
    return {
        {"not well-formed", "<!DOCTYPE pnp_message>\n<program name=\"x\">", false, {}},
        {"garbage", QByteArray("\x00\xff\x01<<", 5), false, {}},
        {"no document type", "<program name=\"n\" uuid=\"{}\"/>", false, {}},
        {"wrong document type", "<!DOCTYPE pnp>\n<discover_request/>", false, {}},
        {"unknown root", document("announce", allAttributes), false, {}},
        {"non-target child of a request",
         "<!DOCTYPE pnp_message><discover_request><target>Qol</target><x/></discover_request>",
         false,
         {}},
        {"text in a request", "<!DOCTYPE pnp_message><discover_request>Qol</discover_request>", false, {}},
        {"no hostName", document(program, withoutAttribute("hostName")), true, {noAttribute("hostName", "10.1.2.3")}},
        {"no name", document(program, withoutAttribute("name")), false, {noAttribute("name")}},
        {"no name, no hostName",
         document(program, "uuid=\"{}\""),
         false,
         {noAttribute("hostName", "10.1.2.3"), noAttribute("name", "10.1.2.3")}},
        {"no type", document(program, withoutAttribute("type")), true, {noAttribute("type")}},
        {"no index", document(program, withoutAttribute("index")), true, {noAttribute("index")}},
        {"no uuid", document(program, withoutAttribute("uuid")), false, {noAttribute("uuid")}},
        {"close without uuid", document("program_close", withoutAttribute("uuid")), false, {noAttribute("uuid")}},
        {"child cannot stand in for a required attribute",
         document(program, withoutAttribute("name"), "<name>n</name>"),
         false,
         {noAttribute("name")}},
        {"unknown tag", announcementWith("<name>a</name><extra/>"), false, {"Unknown tag:extra from: 10.1.2.3"}},
        {"option with another tag",
         optionsWith("<option name=\"a\" value=\"1\"/><opt/>"),
         false,
         {"Unexpected tag name:opt from:h"}},
        {"option without name", optionsWith("<option value=\"1\"/>"), false, {"There is no attribute :name from:h"}},
        {"option without value", optionsWith("<option name=\"a\"/>"), false, {"There is no attribute :value from:h"}},
        {"options from the overriding host name",
         announcementWith("<hostName>other</hostName><options><o/></options>"),
         false,
         {"Unexpected tag name:o from:other"}},
        {"interface with another tag",
         announcementWith("<interfaces><port/></interfaces>"),
         false,
         {"Unknow tag (port)" + from}},
        {"interface without type",
         interfaceWith("port=\"1\" isFree=\"1\""),
         false,
         {"There is no attribute  (type)" + from}},
        {"interface without port",
         interfaceWith("type=\"t\" isFree=\"1\""),
         false,
         {"There is no attribute (port)" + from}},
        {"interface without isFree",
         interfaceWith("type=\"t\" port=\"1\""),
         false,
         {"There is no attribute (isFree)" + from}},
        {"enabled interface with port 0",
         interfaceWith("type=\"t\" port=\"0\" isFree=\"1\""),
         false,
         {"Empty port at enabled interface from 10.1.2.3"}},
        {"enabled interface with a bad port",
         interfaceWith("type=\"t\" port=\"-5\" isFree=\"1\" enabled=\"x\""),
         false,
         {"Empty port at enabled interface from 10.1.2.3"}},
        {"disabled interface with port 0", interfaceWith("type=\"t\" port=\"0\" isFree=\"1\" enabled=\"0\""), true, {}},
        {"enabled 2 disables", interfaceWith("type=\"t\" port=\"0\" isFree=\"0\" enabled=\"2\""), true, {}},
        {"a failing interface stops the reading",
         announcementWith("<interfaces><interface type=\"t\"/></interfaces><bad/>"),
         false,
         {"There is no attribute (port)" + from}},
    };
}

} // namespace

INSTANTIATE_TEST_SUITE_P(
    Faults, PnpMessageReader, ::testing::ValuesIn(readerCases()), [](const ::testing::TestParamInfo<ReaderCase>& info) {
        return QString::fromLatin1(info.param.what).replace(QRegularExpression("[^A-Za-z0-9]+"), "_").toStdString();
    });

TEST(PnpMessageReaderFields, ChildrenOverrideAttributes)
{
    PnpMessage message;
    ASSERT_TRUE(
        message.fromXml(announcementWith("<name>N2</name><type>Qol</type><index>9</index>"
                                         "<hostName>H2</hostName><uuid>{11111111-2222-4333-8444-555555555555}</uuid>"
                                         "<seq>77</seq>"),
                        sender));
    const ProgramDescription& pd = message.program;
    EXPECT_EQ(pd.name, "N2");
    EXPECT_EQ(pd.type, "Qol");
    EXPECT_EQ(pd.index, "9");
    EXPECT_EQ(pd.hostName, "H2");
    EXPECT_EQ(pd.uuid, QUuid("{11111111-2222-4333-8444-555555555555}"));
    EXPECT_EQ(pd.seq, 77u);
}

TEST(PnpMessageReaderFields, LenientValues)
{
    MessageLog capture;
    PnpMessage message;
    ASSERT_TRUE(message.fromXml(
        document("program", "name=\"n\" uuid=\"not a uuid\" seq=\"-1\" hostName=\"h\" type=\"T\" index=\"1\"",
                 "<options><option name=\"a\" value=\"1\"/><option name=\"\" value=\"x\"/>"
                 "<option name=\"a\" value=\"2\"/></options>"
                 "<interfaces><interface type=\"t\" port=\"80\" isFree=\"0\" enabled=\"x\" id=\"y\"/>"
                 "<interface type=\"u\" port=\"81\" isFree=\"z\" id=\"-4\"/></interfaces>"),
        sender));
    const ProgramDescription& pd = message.program;
    EXPECT_TRUE(pd.uuid.isNull());
    EXPECT_EQ(pd.seq, 0u);
    EXPECT_EQ(pd.options, (QMap<QString, QString>{{"a", "2"}}));
    ASSERT_EQ(pd.interfaces.size(), 2);
    EXPECT_TRUE(pd.interfaces[0].enabled);
    EXPECT_FALSE(pd.interfaces[0].isFree);
    EXPECT_EQ(pd.interfaces[0].id, 0);
    EXPECT_TRUE(pd.interfaces[1].isFree);
    EXPECT_EQ(pd.interfaces[1].id, -4);
    EXPECT_TRUE(capture.warnings().isEmpty());
}
