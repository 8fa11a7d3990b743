// The program description, the type name tables and the discovery message
// writer and reader (no network).
#include "pnp/PnpMessage.h"
#include "pnp/DatagramWarnings.h"
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

QString overLimit(const char* limit)
{
    return QStringLiteral("Datagram from 10.1.2.3 exceeds the reader's limit of %1").arg(limit);
}

QByteArray request(const QByteArray& body, const QByteArray& declarations = "")
{
    return "<!DOCTYPE pnp_message" + declarations + ">\n<discover_request>" + body + "</discover_request>";
}

// The fields a reader filled, in one line.
QString fields(const ProgramDescription& pd)
{
    QStringList options;
    for (auto it = pd.options.cbegin(); it != pd.options.cend(); ++it)
        options << it.key() + '=' + it.value();
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
        .arg(pd.name, pd.type, pd.index, pd.hostName, pd.uuid.toString(), QString::number(pd.seq), options.join(','));
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
    bool found = true;
    EXPECT_EQ(pd.getInterface(QStringLiteral("remotecontrol"), &found).type, QString()); // names match exactly
    EXPECT_FALSE(found);
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
        {withInterface("type=\"t\" port=\"70000\" isFree=\"1\" enabled=\"0\""),
         false,
         {"Port 70000 out of range at interface from 10.1.2.3"}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"1\" enabled=\"0\""), true, {}},
        {withInterface("type=\"t\" port=\"0\" isFree=\"0\" enabled=\"2\""), true, {}}, // only 1 enables
        {request(QByteArray("<a>").repeated(40)), false, {overLimit("32 nested elements")}},
        {request(QByteArray("<target/>").repeated(33000)), false, {overLimit("65536 tokens")}},
        {request("", " [" + QByteArray("<!ENTITY e \"x\">").repeated(33) + "]"), false, {overLimit("32 declarations")}},
        {"<!DOCTYPE pnp_message><program" + QByteArray(" a=\"\"").repeated(257) + "/>",
         false,
         {overLimit("256 '=' in one tag")}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.constData());
        MessageLog capture;
        PnpMessage read;
        EXPECT_EQ(read.fromXml(c.data, sender), c.accepted);
        EXPECT_EQ(read.warnings, c.warnings);
        EXPECT_TRUE(capture.texts().isEmpty()) << "the caller writes the warnings";
    }
}

// Hand-written announcements that are accepted: the fields they yield.
TEST(PnpMessageReader, AcceptedDocumentsFillTheseFields)
{
    const QString nullUuid = QUuid().toString();
    const QString otherUuid = QStringLiteral("{11111111-2222-4333-8444-555555555555}");
    const struct {
        QByteArray data;
        QString fields;
    } cases[] = {
        {announcement("type"), "n||1|h|" + uuidText + "|5|"},
        {announcement("index"), "n|Nimbus||h|" + uuidText + "|5|"},
        {announcement("seq"), "n|Nimbus|1|h|" + uuidText + "|0|"},
        {"<!DOCTYPE pnp_message><program name=\"n\" uuid=\"not-a-uuid\" seq=\"x7\"/>",
         "n|||10.1.2.3|" + nullUuid + "|0|"},
        {announcement("", "<name>a</name><type>Qol</type><index>3</index><hostName>o</hostName><uuid>" + otherUuid
                              + "</uuid><seq>11</seq>"),
         "a|Qol|3|o|" + otherUuid + "|11|"},
        {announcement("", "<seq>z</seq><uuid>bad</uuid>"), "n|Nimbus|1|h|" + nullUuid + "|0|"},
        {announcement("", "<options><option name=\"a\" value=\"1\"/><option name=\"\" value=\"2\"/>"
                          "<option name=\"a\" value=\"3\"/><option name=\"b\" value=\"\"/></options>"),
         "n|Nimbus|1|h|" + uuidText + "|5|a=3,b="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data.constData());
        PnpMessage read;
        ASSERT_TRUE(read.fromXml(c.data, sender)) << qPrintable(read.warnings.join('\n'));
        EXPECT_EQ(fields(read.program), c.fields);
    }
}

TEST(PnpMessage, InterfaceWithoutTypeIsWrittenWithoutTypeAttributeAndRefused)
{
    // Qt orders the attributes of a written element by a hash of their names;
    // a fixed seed makes that order, and so the bytes, repeatable.
    qSetGlobalQHashSeed(0);
    PnpMessage message;
    message.kind = ProgramAnnouncement;
    message.program.uuid = QUuid(uuidText);
    message.program.name = QStringLiteral("n");
    message.program.hostName = QStringLiteral("h");
    ProgramInterface untyped;
    untyped.port = 7;
    message.program.interfaces << untyped;
    const QString xml = message.toXml();
    qSetGlobalQHashSeed(-1);
    EXPECT_EQ(xml.toStdString(), "<!DOCTYPE pnp_message>\n<program type=\"\" hostName=\"h\" name=\"n\" uuid=\""
                                     + uuidText.toStdString()
                                     + "\" seq=\"0\" index=\"\">\n <interfaces>\n"
                                       "  <interface enabled=\"1\" isFree=\"1\" id=\"0\" port=\"7\"/>\n"
                                       " </interfaces>\n</program>\n");
    PnpMessage read;
    EXPECT_FALSE(read.fromXml(xml.toLatin1(), sender));
}

TEST(DatagramWarnings, TenDatagramsASecondThenOneSummaryWithTheStartOfEachEscaped)
{
    qint64 now = 0;
    DatagramWarnings warnings([&now] { return now; });
    MessageLog capture;
    const QByteArray long_ = "<\x01\n\\" + QByteArray(300, 'x');
    for (int i = 0; i < 12; ++i)
        warnings.dropped(i == 0 ? long_ : QByteArray::number(i), {"reason"});
    warnings.accepted({"held back too"});
    warnings.overflowed();
    const QStringList lines = capture.warnings();
    ASSERT_EQ(lines.size(), 20);
    EXPECT_EQ(lines[0], "reason");
    EXPECT_EQ(lines[1], "Failed decode msg:<\\x01\\n\\\\" + QString(196, 'x') + "... (304 bytes)");
    EXPECT_EQ(lines[19], "Failed decode msg:9");

    now = 999;
    warnings.flush();
    EXPECT_EQ(capture.warnings().size(), 20);
    now = 1000;
    warnings.flush();
    warnings.flush();
    EXPECT_EQ(capture.warnings().mid(20),
              (QStringList{"2 more malformed datagrams dropped",
                           "1 discovery messages dropped: the discovery server is behind"}));
    warnings.dropped("next second", {});
    EXPECT_EQ(capture.warnings().last(), "Failed decode msg:next second");
}
