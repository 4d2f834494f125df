// Shell helpers of the class library: starting a program or opening a
// document, the current user's special folders, the shell-link object's
// methods and the ANSI to UTF-16 conversion the shell needs.
#pragma once

#include <cstdint>
#include <string>

#include "ComObj.h"
#include "GuiPlatform.h"
#include "SysUtils.h"

// Special folders.
enum : int32_t { csidlDesktopDirectory = 16 };
enum : size_t { kMaxPath = 260 };

// Null pointers are passed on as null; the result is the shell's.
intptr_t ShellExecute(TWindowHandle owner, const char* verb, const char* file, const char* parameters,
                      const char* directory, int32_t showCommand);

// An item-identifier list from the shell, freed with the COM task allocator.
class TItemIdList {
public:
    TItemIdList() = default;
    ~TItemIdList();
    TItemIdList(const TItemIdList&) = delete;
    TItemIdList& operator=(const TItemIdList&) = delete;

    const void* Get() const { return raw_; }
    explicit operator bool() const { return raw_ != nullptr; }
    void** Out();

private:
    void* raw_ = nullptr;
};

int32_t SHGetSpecialFolderLocation(TWindowHandle owner, int32_t folder, TItemIdList& list);
// `path` must hold kMaxPath + 1 bytes.
bool SHGetPathFromIDList(const TItemIdList& list, char* path);

int32_t ShellLinkSetPath(const TInterfaceRef& shellLink, const AnsiString& path);
int32_t ShellLinkSetWorkingDirectory(const TInterfaceRef& shellLink, const AnsiString& directory);
int32_t PersistFileSave(const TInterfaceRef& persistFile, const std::u16string& fileName, bool remember);

// Through the system's ANSI code page.
std::u16string AnsiToWide(const AnsiString& text);
