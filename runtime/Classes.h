// Persistent objects, the component ownership model, streams and the string
// list of the class library.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "SysUtils.h"

class TPersistent {
public:
    TPersistent() = default;
    TPersistent(const TPersistent&) = delete;
    TPersistent& operator=(const TPersistent&) = delete;
    virtual ~TPersistent() = default;
    virtual const char* ClassName() const { return "TPersistent"; }
};

enum class TOperation { opInsert, opRemove };

class TComponent;
// The class library's plain event: handler(sender).
using TNotifyEvent = std::function<void(TComponent* sender)>;

// A component is owned by at most one other component, which destroys it.
// Components that asked for free notification are told, through
// Notification(c, opRemove), when c is destroyed. Owned components are held
// by raw pointer on purpose: the owner is what frees them.
class TComponent : public TPersistent {
public:
    explicit TComponent(TComponent* owner);
    ~TComponent() override;
    const char* ClassName() const override { return "TComponent"; }

    TComponent* Owner() const { return owner_; }
    const AnsiString& Name() const { return name_; }
    void SetName(AnsiString name) { name_ = std::move(name); }
    int32_t Tag() const { return tag_; }
    void SetTag(int32_t tag) { tag_ = tag; }

    int ComponentCount() const { return static_cast<int>(components_.size()); }
    TComponent* Components(int index) const { return components_.at(index); }
    TComponent* FindComponent(const AnsiString& name) const;

    // Links this component and `other` both ways: whichever is destroyed
    // first tells the other through Notification(it, opRemove), so neither
    // keeps a pointer to a destroyed component.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    // Frees the owned components, the last inserted first.
    void DestroyComponents();

    bool Destroying() const { return destroying_; }

protected:
    // Called with opInsert/opRemove for owned components and with opRemove
    // for components this one registered with through FreeNotification.
    virtual void Notification(TComponent* component, TOperation operation);

private:
    void InsertComponent(TComponent* component);
    void RemoveComponent(TComponent* component);
    void RemoveNotifyLink(TComponent* other);

    TComponent* owner_ = nullptr;
    AnsiString name_;
    int32_t tag_ = 0;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    bool destroying_ = false;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
public:
    TStream() = default;
    TStream(const TStream&) = delete;
    TStream& operator=(const TStream&) = delete;
    virtual ~TStream() = default;

    virtual int32_t Read(void* buffer, int32_t count) = 0;
    virtual int32_t Write(const void* buffer, int32_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual void SetSize(int64_t size) = 0;
    // A hint that about `bytes` more will be written; never required.
    virtual void Reserve(int64_t /*bytes*/) {}
    // Direct writing, for streams that hold their bytes in memory: room for
    // `count` bytes at the position, which the caller fills (a receive
    // straight from a socket, say) and hands over with CommitWindow(n), n up
    // to `count`. nullptr when the stream offers no such room; the caller
    // then uses Write. Nothing else may touch the stream in between.
    virtual uint8_t* WriteWindow(int32_t /*count*/) { return nullptr; }
    virtual void CommitWindow(int32_t /*count*/) {}

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
    int64_t Size();
    void WriteBuffer(const void* buffer, int32_t count);  // raises when short
};

// Byte-exact in-memory stream: zero bytes and line ends are kept as they are.
// The memory grows geometrically as bytes are written and is not cleared
// ahead of writing; only a gap that a seek past the end leaves, and growth
// by SetSize, read as zero bytes.
class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    ~TMemoryStream() override;

    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t size) override;
    void Reserve(int64_t bytes) override;
    uint8_t* WriteWindow(int32_t count) override;
    void CommitWindow(int32_t count) override;

    // A copy of all the bytes held.
    std::string Bytes() const { return std::string(reinterpret_cast<const char*>(data_), size_); }
    const uint8_t* Memory() const { return data_; }
    int64_t Capacity() const { return static_cast<int64_t>(capacity_); }
    void Clear() {
        size_ = 0;
        position_ = 0;
    }

private:
    // Makes room for `bytes` in all; geometric steps unless `exact`.
    void Grow(int64_t bytes, bool exact);
    // Zero bytes from the end up to the position, after a seek past the end.
    void FillGap();

    uint8_t* data_ = nullptr;  // malloc'd, so that growth can be a realloc
    size_t size_ = 0;
    size_t capacity_ = 0;
    int64_t position_ = 0;
};

// Unsorted list of texts, duplicates allowed.
class TStringList {
public:
    TStringList() = default;
    TStringList(const TStringList&) = delete;
    TStringList& operator=(const TStringList&) = delete;
    virtual ~TStringList() = default;

    int Count() const { return static_cast<int>(items_.size()); }
    const AnsiString& Strings(int index) const { return items_.at(index); }
    const AnsiString& operator[](int index) const { return items_.at(index); }
    void Put(int index, AnsiString text) { items_.at(index) = std::move(text); }
    int Add(AnsiString text);
    void Insert(int index, AnsiString text);
    void Delete(int index);
    void Clear() { items_.clear(); }
    void AddStrings(const TStringList& other);
    int IndexOf(const AnsiString& text) const;  // the first entry equal in any letter case (SameText), or -1

    // Whole-text form: every line followed by CR LF. Setting it splits at
    // CR LF, LF or CR.
    AnsiString Text() const;
    void SetText(const AnsiString& text);

private:
    std::vector<AnsiString> items_;
};
