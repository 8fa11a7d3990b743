#pragma once

#include <QString>
#include <QXmlStreamAttributes>

#include <vector>

// A parsed XML document node, light enough to build for every discovery
// datagram. Like a DOM built by QDomDocument: whitespace-only text is left
// out, entities are expanded, and an element's text is all text below it.
struct XmlNode {
    QString name; // tag name, or "#text", "#cdata-section", "#comment", or a processing instruction's target
    bool isElement = false;
    QXmlStreamAttributes attributes;
    QString text;
    std::vector<XmlNode> children;

    bool hasAttribute(const QString& attribute) const { return attributes.hasAttribute(attribute); }
    QString attribute(const QString& attribute) const { return attributes.value(attribute).toString(); }

    // Bounds on what a document may hold, so that reading any datagram stays
    // cheap (some shapes cost the stream reader time quadratic in their size).
    struct Limits {
        int nesting;      // elements open at once
        int tokens;       // tokens of the stream reader in all
        int declarations; // entity and notation declarations
        int equalsPerTag; // '=' between two '<': a cheap bound on attributes per element
    };

    enum class Result { Parsed, NotWellFormed, TooDeep, TooManyTokens, TooManyDeclarations, TooManyEquals };

    // Parses a whole document into its root element and document type name.
    static Result parseDocument(const QString& document, const Limits& limits, XmlNode* root,
                                QString* documentTypeName);
};
