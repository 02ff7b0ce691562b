// Handle attributes in one shape (SQLSetEnvAttr, SQLSetConnectAttr,
// SQLSetStmtAttr and their Get twins). Each kind of handle has one table:
// an entry for every attribute ODBC defines for that kind that the driver
// knows, saying how the value travels, how it is read and what setting it
// does. setAttribute and getAttribute serve every kind from its table, and
// an attribute a call cannot take gets one answer whatever the kind:
// - HY092 for a number that is no attribute of the kind, and for setting
//   an attribute that can only be read;
// - HYC00 for an attribute the driver does not support (in the direction
//   asked).
// A refusal is a diagnostic and SQL_ERROR without the cost of an exception:
// driver managers ask for several unsupported attributes on every
// connection and statement.
#pragma once

#include "xlsodbc/diagnostics.h"
#include "xlsodbc/odbc.h"
#include "xlsodbc/text.h"

#include <span>
#include <string>
#include <type_traits>

namespace xlsodbc {

// How an attribute's value travels.
enum class AttributeType : unsigned char {
    Integer,  // a 32-bit integer, in the value argument (environment, connection)
    Length,   // an SQLULEN, in the value argument (statement)
    Pointer,  // an address, in the value argument
    Text,     // a character string, read into a buffer in the call's encoding
};

template <class H>
struct Attribute {
    // The value of a number or address attribute (an address as its bits).
    using Reader = SQLULEN (*)(const H&, const Attribute&);
    // The value of a text attribute.
    using TextReader = std::u16string (*)(const H&);
    // Takes a value from the application, or throws DriverError.
    using Writer = void (*)(H&, SQLULEN, const Attribute&);

    Reader read = nullptr;   // null (and no readText): not reported (HYC00)
    Writer write = nullptr;  // null: not taken (HYC00, or HY092 when readOnly)
    TextReader readText = nullptr;
    SQLULEN value = 0;           // a fixed attribute's only value; a kept one's default
    const char* note = nullptr;  // why a fixed value stays; what a cut text was
    SQLINTEGER id = 0;
    AttributeType type = AttributeType::Length;
    bool readOnly = false;  // ODBC lets applications only read it
};

// The attributes of one kind of handle.
template <class H>
struct AttributeTable {
    const char* kind;  // "statement", as messages name it
    std::span<const Attribute<H>> entries;
    // Further attributes ODBC allows on this kind that the driver supports
    // in neither direction (a connection's are its statements' attributes,
    // which ODBC 2 applications set on the connection); null for none.
    bool (*alsoDefined)(SQLINTEGER) = nullptr;

    [[nodiscard]] const Attribute<H>* find(SQLINTEGER id) const {
        for (const Attribute<H>& a : entries) {
            if (a.id == id) {
                return &a;
            }
        }
        return nullptr;
    }
};

// True for an attribute of the statement's table (api_stmt_attr.cpp), which
// ODBC also allows on a connection (see AttributeTable).
bool isStatementAttribute(SQLINTEGER id);

template <class T>
SQLULEN toBits(T value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<SQLULEN>(value);
    } else {
        return static_cast<SQLULEN>(value);
    }
}

template <class T>
T fromBits(SQLULEN bits) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<T>(bits);
    } else {
        return static_cast<T>(bits);
    }
}

// ---- readers and writers every kind uses ----------------------------------------------------

template <class>
struct MemberOf;
template <class C, class T>
struct MemberOf<T C::*> {
    using Owner = C;
};
template <auto Member>
using OwnerOf = typename MemberOf<decltype(Member)>::Owner;

// Attributes held in a member of the handle, which the driver acts on.
template <auto Member>
SQLULEN readMember(const OwnerOf<Member>& h, const Attribute<OwnerOf<Member>>& /*a*/) {
    return toBits(h.*Member);
}

template <auto Member>
void writeMember(OwnerOf<Member>& h, SQLULEN value, const Attribute<OwnerOf<Member>>& /*a*/) {
    using T = std::remove_reference_t<decltype(h.*Member)>;
    h.*Member = fromBits<T>(value);
}

// Attributes fixed by what the driver is: another value is answered with
// 01S02 and the fixed one stays.
template <class H>
SQLULEN readFixed(const H& /*h*/, const Attribute<H>& a) {
    return a.value;
}

template <class H>
void writeFixed(H& h, SQLULEN value, const Attribute<H>& a) {
    if (value != a.value) {
        h.diagnostics.add(State::OptionChanged, a.note);
    }
}

// Attributes fixed the same way that cannot be set to another value at all
// (HYC00).
template <class H>
void writeOnlyFixed(H& /*h*/, SQLULEN value, const Attribute<H>& a) {
    if (value != a.value) {
        throw DriverError(State::NotImplemented, a.note);
    }
}

// Attributes accepted whatever their value, which changes nothing.
template <class H>
void writeIgnored(H& /*h*/, SQLULEN /*value*/, const Attribute<H>& /*a*/) {}

// ---- the entries of a table -------------------------------------------------------------------

// Kept in a member of the handle; `write` checks a value before it is kept.
template <auto Member>
constexpr Attribute<OwnerOf<Member>> stored(
    SQLINTEGER id, AttributeType type,
    typename Attribute<OwnerOf<Member>>::Writer write = writeMember<Member>) {
    return {.read = readMember<Member>, .write = write, .id = id, .type = type};
}

// Always `value`; another is answered with 01S02 (`note` says why).
template <class H>
constexpr Attribute<H> fixed(SQLINTEGER id, AttributeType type, SQLULEN value, const char* note) {
    return {.read = readFixed<H>,
            .write = writeFixed<H>,
            .value = value,
            .note = note,
            .id = id,
            .type = type};
}

// Always `value`; another is refused with HYC00 (`note` says why).
template <class H>
constexpr Attribute<H> onlyValue(SQLINTEGER id, AttributeType type, SQLULEN value,
                                 const char* note) {
    return {.read = readFixed<H>,
            .write = writeOnlyFixed<H>,
            .value = value,
            .note = note,
            .id = id,
            .type = type};
}

// Reads `value`; a value set is accepted and changes nothing.
template <class H>
constexpr Attribute<H> accepted(SQLINTEGER id, AttributeType type, SQLULEN value) {
    return {.read = readFixed<H>, .write = writeIgnored<H>, .value = value, .id = id, .type = type};
}

// Taken and ignored, never reported (HYC00 when read).
template <class H>
constexpr Attribute<H> setOnly(SQLINTEGER id, AttributeType type) {
    return {.write = writeIgnored<H>, .id = id, .type = type};
}

// Read only, as ODBC defines it: what `read` says of the handle.
template <class H>
constexpr Attribute<H> computed(SQLINTEGER id, AttributeType type,
                                typename Attribute<H>::Reader read) {
    return {.read = read, .id = id, .type = type, .readOnly = true};
}

// A text the driver reports but does not take (HYC00 when set); `cut` is
// the warning when the buffer is too short for it.
template <class H>
constexpr Attribute<H> reportedText(SQLINTEGER id, typename Attribute<H>::TextReader read,
                                    const char* cut) {
    return {.readText = read, .note = cut, .id = id, .type = AttributeType::Text};
}

// An attribute ODBC defines that the driver supports in neither direction;
// setting one that ODBC makes read only is HY092 rather than HYC00.
template <class H>
constexpr Attribute<H> unsupported(SQLINTEGER id, AttributeType type, bool readOnly = false) {
    return {.id = id, .type = type, .readOnly = readOnly};
}

// ---- the one path -----------------------------------------------------------------------------

// The answer for an attribute the call cannot take (see the top).
enum class Refusal : unsigned char { Unknown, ReadOnly, Unsupported };

inline int refuseAttribute(Diagnostics& diagnostics, const char* kind, SQLINTEGER id, Refusal why) {
    const std::string name = std::string("The ") + kind + " attribute " + std::to_string(id);
    switch (why) {
        case Refusal::Unknown:
            diagnostics.add(State::InvalidAttribute, name + " is not known");
            break;
        case Refusal::ReadOnly:
            diagnostics.add(State::InvalidAttribute, name + " can only be read");
            break;
        case Refusal::Unsupported:
            diagnostics.add(State::NotImplemented, name + " is not supported");
            break;
    }
    return SQL_ERROR;
}

template <class H>
int refuseMissing(H& h, const AttributeTable<H>& table, SQLINTEGER id) {
    const bool defined = table.alsoDefined != nullptr && table.alsoDefined(id);
    return refuseAttribute(h.diagnostics, table.kind, id,
                           defined ? Refusal::Unsupported : Refusal::Unknown);
}

// SQLSet*Attr: the body of a guarded call on `h`.
template <class H>
int setAttribute(H& h, const AttributeTable<H>& table, SQLINTEGER id, SQLPOINTER value) {
    const Attribute<H>* a = table.find(id);
    if (a == nullptr) {
        return refuseMissing(h, table, id);
    }
    if (a->write == nullptr) {
        return refuseAttribute(h.diagnostics, table.kind, id,
                               a->readOnly ? Refusal::ReadOnly : Refusal::Unsupported);
    }
    SQLULEN bits = toBits(value);
    if (a->type == AttributeType::Integer) {
        bits = static_cast<SQLUINTEGER>(bits);
    }
    a->write(h, bits, *a);
    return SQL_SUCCESS;
}

// SQLGet*Attr: the body of a guarded call on `h`. A number or an address is
// stored with its size; a text is written as `enc` says, cut to `capacity`
// bytes.
template <class H>
int getAttribute(H& h, const AttributeTable<H>& table, SQLINTEGER id, SQLPOINTER value,
                 SQLINTEGER capacity, SQLINTEGER* length, Encoding enc = Encoding::Utf8) {
    const Attribute<H>* a = table.find(id);
    if (a == nullptr) {
        return refuseMissing(h, table, id);
    }
    if (a->readText != nullptr) {
        const Written w = writeText(a->readText(h), TextBuffer{value, capacity, enc, true});
        storeLength(length, w.length);
        if (w.truncated) {
            h.diagnostics.add(State::Truncated, a->note);
        }
        return SQL_SUCCESS;
    }
    if (a->read == nullptr) {
        return refuseAttribute(h.diagnostics, table.kind, id, Refusal::Unsupported);
    }
    const SQLULEN bits = a->read(h, *a);
    switch (a->type) {
        case AttributeType::Integer:
            storeScalar(value, length, static_cast<SQLUINTEGER>(bits));
            break;
        case AttributeType::Pointer:
            storeScalar(value, length, fromBits<SQLPOINTER>(bits));
            break;
        default:
            storeScalar(value, length, bits);
            break;
    }
    return SQL_SUCCESS;
}

}  // namespace xlsodbc
