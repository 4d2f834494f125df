#include "ShlObj.h"

intptr_t ShellExecute(TWindowHandle owner, const char* verb, const char* file, const char* parameters,
                      const char* directory, int32_t showCommand) {
    return GuiPlatform::ShellExecuteA(owner, verb, file, parameters, directory, showCommand);
}

TItemIdList::~TItemIdList() {
    if (raw_) GuiPlatform::CoTaskMemFree(raw_);
}

void** TItemIdList::Out() {
    if (raw_) GuiPlatform::CoTaskMemFree(raw_);
    raw_ = nullptr;
    return &raw_;
}

int32_t SHGetSpecialFolderLocation(TWindowHandle owner, int32_t folder, TItemIdList& list) {
    return GuiPlatform::SHGetSpecialFolderLocation(owner, folder, list.Out());
}

bool SHGetPathFromIDList(const TItemIdList& list, char* path) {
    return GuiPlatform::SHGetPathFromIDListA(list.Get(), path);
}

int32_t ShellLinkSetPath(const TInterfaceRef& shellLink, const AnsiString& path) {
    return GuiPlatform::ShellLinkSetPath(shellLink.Get(), path.c_str());
}

int32_t ShellLinkSetWorkingDirectory(const TInterfaceRef& shellLink, const AnsiString& directory) {
    return GuiPlatform::ShellLinkSetWorkingDirectory(shellLink.Get(), directory.c_str());
}

int32_t PersistFileSave(const TInterfaceRef& persistFile, const std::u16string& fileName, bool remember) {
    return GuiPlatform::PersistFileSave(persistFile.Get(), fileName.c_str(), remember);
}

std::u16string AnsiToWide(const AnsiString& text) { return GuiPlatform::MultiByteToWideChar(text); }
