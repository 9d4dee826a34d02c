#pragma once

#include "strovaexport.h"

#include <QString>
#include <QVector>

namespace tr {

/// A translatable text: a key, its default Russian text and nested argument texts.
///
/// The host resolves the key into the cashier's language; the Russian text is
/// the fallback and the form written to logs.
class STROVA_EXPORT Tr {
public:
    Tr();
    Tr(const QString& key, const QString& text);
    Tr(const Tr& other);
    Tr& operator=(const Tr& other);
    virtual ~Tr();

    /// Adds an argument that fills the next "%n" of the text.
    Tr& arg(const Tr& argument);
    Tr& arg(const QString& plainText);

    bool isEmpty() const;
    QString key() const;
    /// The Russian text with every argument filled in.
    QString ru() const;
    /// The context the host resolves the key in; empty for plug-in texts.
    QString context() const;

    bool operator==(const Tr& other) const;
    bool operator!=(const Tr& other) const { return !(*this == other); }

private:
    QString m_key;
    QString m_text;
    QString m_context;
    QVector<Tr> m_arguments;
};

} // namespace tr
