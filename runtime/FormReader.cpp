#include "FormReader.h"

#include <cctype>

int32_t TFormValue::AsInteger() const {
    if (kind != Kind::Integer || integer < INT32_MIN || integer > INT32_MAX) throw EReadError("Invalid property value");
    return static_cast<int32_t>(integer);
}

const AnsiString& TFormValue::AsString() const {
    if (kind != Kind::String) throw EReadError("Invalid property value");
    return text;
}

const AnsiString& TFormValue::AsIdentifier() const {
    if (kind != Kind::Identifier) throw EReadError("Invalid property value");
    return text;
}

bool TFormValue::AsBoolean() const {
    if (kind == Kind::Identifier && SameText(text, "True")) return true;
    if (kind == Kind::Identifier && SameText(text, "False")) return false;
    throw EReadError("Invalid property value");
}

const std::vector<AnsiString>& TFormValue::AsSet() const {
    if (kind != Kind::Set) throw EReadError("Invalid property value");
    return items;
}

namespace {

class TFormParser {
public:
    explicit TFormParser(const AnsiString& text) : text_(text) {}

    TFormObject ParseRoot() {
        TFormObject root = ParseObject();
        SkipBlanks();
        if (pos_ < text_.size()) Fail();
        return root;
    }

private:
    [[noreturn]] void Fail() const {
        throw EReadError(Format("Invalid form description (line %d)", {static_cast<int32_t>(line_)}));
    }

    void SkipBlanks() {
        while (pos_ < text_.size() && static_cast<unsigned char>(text_[pos_]) <= 32) {
            if (text_[pos_] == '\n') ++line_;
            ++pos_;
        }
    }

    bool AtIdentifierStart() const {
        return pos_ < text_.size() && (std::isalpha(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_');
    }

    // Letters, digits, "_" and, for property paths such as Font.Name, ".".
    AnsiString Identifier() {
        SkipBlanks();
        if (!AtIdentifierStart()) Fail();
        const size_t start = pos_;
        while (pos_ < text_.size() &&
               (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_' || text_[pos_] == '.'))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

    void Expect(char c) {
        SkipBlanks();
        if (pos_ >= text_.size() || text_[pos_] != c) Fail();
        ++pos_;
    }

    bool Peek(char c) {
        SkipBlanks();
        return pos_ < text_.size() && text_[pos_] == c;
    }

    TFormObject ParseObject() {
        TFormObject object;
        SkipBlanks();
        object.line = line_;
        if (!SameText(Identifier(), "object")) Fail();
        object.name = Identifier();
        Expect(':');
        object.className = Identifier();
        for (;;) {
            SkipBlanks();
            const size_t mark = pos_;
            const int markLine = line_;
            const AnsiString word = Identifier();
            if (SameText(word, "end")) return object;
            if (SameText(word, "object")) {
                pos_ = mark;
                line_ = markLine;
                object.children.push_back(ParseObject());
                continue;
            }
            Expect('=');
            object.properties.emplace_back(word, ParseValue());
        }
    }

    TFormValue ParseValue() {
        SkipBlanks();
        if (pos_ >= text_.size()) Fail();
        TFormValue value;
        const char c = text_[pos_];
        if (c == '\'' || c == '#') {
            value.kind = TFormValue::Kind::String;
            value.text = StringPiece();
            while (Peek('+')) {
                ++pos_;
                SkipBlanks();
                value.text += StringPiece();
            }
        } else if (c == '[') {
            ++pos_;
            value.kind = TFormValue::Kind::Set;
            if (!Peek(']')) {
                value.items.push_back(Identifier());
                while (Peek(',')) {
                    ++pos_;
                    value.items.push_back(Identifier());
                }
            }
            Expect(']');
        } else if (c == '-' || c == '$' || std::isdigit(static_cast<unsigned char>(c))) {
            const size_t start = pos_++;
            while (pos_ < text_.size() && std::isxdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
            int32_t number = 0;
            if (!TryStrToInt(text_.substr(start, pos_ - start), number)) Fail();
            value.kind = TFormValue::Kind::Integer;
            value.integer = number;
        } else {
            value.kind = TFormValue::Kind::Identifier;
            value.text = Identifier();
        }
        return value;
    }

    // Adjacent quoted runs and #nn codes, as in 'Line'#13#10'next'.
    AnsiString StringPiece() {
        AnsiString out;
        bool any = false;
        while (pos_ < text_.size()) {
            if (text_[pos_] == '\'') {
                ++pos_;
                for (;;) {
                    if (pos_ >= text_.size() || text_[pos_] == '\n') Fail();
                    if (text_[pos_] == '\'') {
                        if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                            out += '\'';
                            pos_ += 2;
                            continue;
                        }
                        ++pos_;
                        break;
                    }
                    out += text_[pos_++];
                }
            } else if (text_[pos_] == '#') {
                ++pos_;
                const size_t start = pos_;
                while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) ++pos_;
                int32_t code = 0;
                if (!TryStrToInt(text_.substr(start, pos_ - start), code) || code < 0 || code > 255) Fail();
                out += static_cast<char>(code);
            } else {
                break;
            }
            any = true;
        }
        if (!any) Fail();
        return out;
    }

    const AnsiString& text_;
    size_t pos_ = 0;
    int line_ = 1;
};

}  // namespace

TFormObject ParseFormText(const AnsiString& text) { return TFormParser(text).ParseRoot(); }
