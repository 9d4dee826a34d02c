#include "tr.h"

namespace tr {

Tr::Tr() = default;
Tr::Tr(const QString& key, const QString& text) : m_key(key), m_text(text) {}
Tr::Tr(const Tr& other) = default;
Tr& Tr::operator=(const Tr& other) = default;
Tr::~Tr() = default;

Tr& Tr::arg(const Tr& argument)
{
    m_arguments.append(argument);
    return *this;
}

Tr& Tr::arg(const QString& plainText)
{
    return arg(Tr(QString(), plainText));
}

bool Tr::isEmpty() const
{
    return m_key.isEmpty() && m_text.isEmpty() && m_arguments.isEmpty();
}

QString Tr::key() const
{
    return m_key;
}

QString Tr::ru() const
{
    QString text = m_text;
    for (const Tr& argument : m_arguments) {
        text = text.arg(argument.ru());
    }
    return text;
}

QString Tr::context() const
{
    return m_context;
}

bool Tr::operator==(const Tr& other) const
{
    return this == &other || (m_key == other.m_key && m_text == other.m_text &&
                              m_context == other.m_context && m_arguments == other.m_arguments);
}

} // namespace tr
