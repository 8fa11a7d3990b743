#include "pnp/XmlNode.h"

#include <QXmlStreamReader>

namespace {

XmlNode leaf(const QString& name, const QString& text)
{
    XmlNode node;
    node.name = name;
    node.text = text;
    return node;
}

// The node a token adds below the current element, or an empty name when
// the token adds nothing.
XmlNode nodeFor(const QXmlStreamReader& reader)
{
    switch (reader.tokenType()) {
    case QXmlStreamReader::Characters:
        if (reader.isCDATA())
            return leaf(QStringLiteral("#cdata-section"), reader.text().toString());
        return reader.isWhitespace() ? XmlNode() : leaf(QStringLiteral("#text"), reader.text().toString());
    case QXmlStreamReader::Comment:
        return leaf(QStringLiteral("#comment"), reader.text().toString());
    case QXmlStreamReader::ProcessingInstruction:
        return leaf(reader.processingInstructionTarget().toString(), reader.processingInstructionData().toString());
    default:
        return XmlNode();
    }
}

// Counted on the raw text before parsing: attribute values cannot hold '<'.
bool fewEqualsPerTag(const QString& document, int limit)
{
    int equals = 0;
    for (const QChar c : document) {
        if (c == QLatin1Char('<'))
            equals = 0;
        else if (c == QLatin1Char('=') && ++equals > limit)
            return false;
    }
    return true;
}

} // namespace

XmlNode::Result XmlNode::parseDocument(const QString& document, const Limits& limits, XmlNode* root,
                                       QString* documentTypeName)
{
    if (!fewEqualsPerTag(document, limits.equalsPerTag))
        return Result::TooManyEquals;
    QXmlStreamReader reader(document);
    reader.setNamespaceProcessing(false); // like QDomDocument::setContent
    std::vector<XmlNode*> open;           // the path from the root to the current element
    bool haveRoot = false;
    int tokens = 0;
    while (!reader.atEnd()) {
        if (++tokens > limits.tokens)
            return Result::TooManyTokens;
        switch (reader.readNext()) {
        case QXmlStreamReader::DTD:
            if (reader.entityDeclarations().size() + reader.notationDeclarations().size() > limits.declarations)
                return Result::TooManyDeclarations;
            *documentTypeName = reader.dtdName().toString();
            break;
        case QXmlStreamReader::StartElement: {
            if (int(open.size()) >= limits.nesting)
                return Result::TooDeep;
            XmlNode* element = root;
            if (haveRoot) {
                open.back()->children.emplace_back();
                element = &open.back()->children.back();
            }
            haveRoot = true;
            element->name = reader.name().toString();
            element->isElement = true;
            element->attributes = reader.attributes();
            open.push_back(element);
            break;
        }
        case QXmlStreamReader::EndElement:
            open.pop_back();
            break;
        default: {
            XmlNode node = nodeFor(reader);
            if (node.name.isEmpty() || open.empty())
                break; // nothing to keep, or outside the root element
            if (node.name.startsWith(QLatin1Char('#')) && node.name != QLatin1String("#comment"))
                for (XmlNode* element : open)
                    element->text += node.text;
            open.back()->children.push_back(std::move(node));
        }
        }
    }
    return !reader.hasError() && haveRoot ? Result::Parsed : Result::NotWellFormed;
}
