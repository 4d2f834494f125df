#include "Classes.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

TComponent::TComponent(TComponent* owner) {
    if (owner) owner->InsertComponent(this);
}

TComponent::~TComponent() {
    destroying_ = true;
    // Tell everyone who asked; they drop their references to us.
    while (!freeNotifies_.empty()) {
        TComponent* other = freeNotifies_.back();
        freeNotifies_.pop_back();
        other->RemoveNotifyLink(this);
        other->Notification(this, TOperation::opRemove);
    }
    DestroyComponents();
    if (owner_) owner_->RemoveComponent(this);
}

TComponent* TComponent::FindComponent(const AnsiString& name) const {
    for (TComponent* c : components_)
        if (SameText(c->Name(), name)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
        freeNotifies_.push_back(other);
    if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) == other->freeNotifies_.end())
        other->freeNotifies_.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    RemoveNotifyLink(other);
    other->RemoveNotifyLink(this);
}

void TComponent::RemoveNotifyLink(TComponent* other) {
    freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
}

void TComponent::DestroyComponents() {
    while (!components_.empty()) {
        TComponent* last = components_.back();
        delete last;  // its destructor removes it from components_
    }
}

void TComponent::Notification(TComponent* component, TOperation operation) {
    if (operation == TOperation::opRemove) RemoveNotifyLink(component);
}

void TComponent::InsertComponent(TComponent* component) {
    components_.push_back(component);
    component->owner_ = this;
    Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
    Notification(component, TOperation::opRemove);
    components_.erase(std::remove(components_.begin(), components_.end(), component), components_.end());
    component->owner_ = nullptr;
}

int64_t TStream::Size() {
    const int64_t here = Position();
    const int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(here, TSeekOrigin::soBeginning);
    return end;
}

void TStream::WriteBuffer(const void* buffer, int32_t count) {
    if (count > 0 && Write(buffer, count) != count) throw Exception("Stream write error");
}

TMemoryStream::~TMemoryStream() { std::free(data_); }

void TMemoryStream::Grow(int64_t bytes, bool exact) {
    if (bytes <= static_cast<int64_t>(capacity_)) return;
    // Beyond what a size_t (32 bits on Windows) or the allocator can hold.
    if (static_cast<uint64_t>(bytes) > std::numeric_limits<size_t>::max() / 2) throw EOutOfMemory();
    size_t capacity = static_cast<size_t>(bytes);
    if (!exact) capacity = std::max({capacity, capacity_ * 2, size_t{4096}});
    // realloc can move large blocks by remapping pages instead of copying them.
    void* grown = std::realloc(data_, capacity);
    if (!grown && capacity > static_cast<size_t>(bytes)) {
        capacity = static_cast<size_t>(bytes);  // the geometric step was too much: try the bare need
        grown = std::realloc(data_, capacity);
    }
    if (!grown) throw EOutOfMemory();
    data_ = static_cast<uint8_t*>(grown);
    capacity_ = capacity;
}

void TMemoryStream::FillGap() {
    const size_t position = static_cast<size_t>(position_);
    if (position > size_) {
        std::memset(data_ + size_, 0, position - size_);
        size_ = position;
    }
}

int32_t TMemoryStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || position_ >= static_cast<int64_t>(size_)) return 0;
    const int64_t n = std::min<int64_t>(count, static_cast<int64_t>(size_) - position_);
    std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
    position_ += n;
    return static_cast<int32_t>(n);
}

int32_t TMemoryStream::Write(const void* buffer, int32_t count) {
    if (count <= 0) return 0;
    std::memcpy(WriteWindow(count), buffer, static_cast<size_t>(count));
    CommitWindow(count);
    return count;
}

uint8_t* TMemoryStream::WriteWindow(int32_t count) {
    Grow(position_ + std::max(count, 0), false);
    return data_ + position_;
}

void TMemoryStream::CommitWindow(int32_t count) {
    if (count <= 0) return;
    FillGap();
    position_ += count;
    size_ = std::max(size_, static_cast<size_t>(position_));
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
    int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = position_;
    else if (origin == TSeekOrigin::soEnd) base = static_cast<int64_t>(size_);
    position_ = std::max<int64_t>(0, base + offset);
    return position_;
}

void TMemoryStream::SetSize(int64_t size) {
    const int64_t wanted = std::max<int64_t>(0, size);
    Grow(wanted, true);
    const size_t newSize = static_cast<size_t>(wanted);
    if (newSize > size_) std::memset(data_ + size_, 0, newSize - size_);
    size_ = newSize;
    position_ = std::min<int64_t>(position_, static_cast<int64_t>(size_));
}

void TMemoryStream::Reserve(int64_t bytes) {
    // Only a hint: capped so that an announced length never reserves much
    // memory before the bytes have arrived.
    constexpr int64_t kMaxReserve = 4 << 20;
    Grow(static_cast<int64_t>(size_) + std::min(std::max<int64_t>(bytes, 0), kMaxReserve), true);
}

int TStringList::Add(AnsiString text) {
    items_.push_back(std::move(text));
    return Count() - 1;
}

void TStringList::Insert(int index, AnsiString text) {
    if (index < 0 || index > Count()) throw Exception("List index out of bounds (" + IntToStr(index) + ")");
    items_.insert(items_.begin() + index, std::move(text));
}

void TStringList::Delete(int index) {
    if (index < 0 || index >= Count()) throw Exception("List index out of bounds (" + IntToStr(index) + ")");
    items_.erase(items_.begin() + index);
}

void TStringList::AddStrings(const TStringList& other) {
    for (const auto& s : other.items_) items_.push_back(s);
}

int TStringList::IndexOf(const AnsiString& text) const {
    for (int i = 0; i < Count(); ++i)
        if (SameText(items_[i], text)) return i;
    return -1;
}

AnsiString TStringList::Text() const {
    AnsiString out;
    for (const auto& s : items_) {
        out += s;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(const AnsiString& text) {
    items_.clear();
    size_t i = 0;
    while (i < text.size()) {
        size_t j = i;
        while (j < text.size() && text[j] != '\r' && text[j] != '\n') ++j;
        items_.push_back(text.substr(i, j - i));
        if (j < text.size() && text[j] == '\r') {
            ++j;
            if (j < text.size() && text[j] == '\n') ++j;
        } else if (j < text.size()) {
            ++j;
        }
        i = j;
    }
}
