// The client configuration record: identifiers, display texts, web addresses
// and file names of the installed client, read from and written to the
// key=value; configuration text, packed containers and resources.
#pragma once

#include <windows.h>

#include <cstdint>

#include "support/fixed_string.h"

// Size of the buffer that SaveToFile / SaveToResource format into.
constexpr uint32_t kClientInfoBufferSize = 1048586;

class IClientInfo {
public:
    virtual bool LoadFromLibrary(const wchar_t* file, const wchar_t* type, uint16_t id) = 0;
    virtual bool LoadFromModule(HMODULE module, const wchar_t* type, uint16_t id) = 0;
    virtual uint32_t SaveToResource(const wchar_t* file, const wchar_t* type, uint16_t id,
                                    bool packed) = 0;
    virtual bool LoadFromFile(const wchar_t* path) = 0;
    virtual uint32_t SaveToFile(const wchar_t* path, bool packed) = 0;
    // The size bounds every read: nothing past data + size is ever touched.
    virtual bool LoadFromData(const void* data, uint32_t size) = 0;
    virtual uint32_t SaveToData(void* out, uint32_t capacity, bool packed) = 0;
    virtual bool ParseText(const wchar_t* text, size_t length) = 0;
    virtual uint32_t FormatText(wchar_t* out, uint32_t capacity) = 0;
    virtual bool WriteRegistry() = 0;
    virtual bool DeleteRegistry() = 0;
    virtual bool DeleteUpdaterCopy() = 0;
    virtual bool DownloadManifestDigest(wchar_t* out) = 0;
    virtual bool IsUpdateAvailable() = 0;
    virtual bool RunUpdater() = 0;
    virtual bool RunMain() = 0;
    virtual const wchar_t* SetDigest(const wchar_t* text) = 0;
    virtual const wchar_t* GetDigest() = 0;
    virtual const wchar_t* SetInstallPath(const wchar_t* text) = 0;
    virtual const wchar_t* GetInstallPath() = 0;
    virtual const wchar_t* SetLaunchProgram(const wchar_t* text) = 0;
    virtual const wchar_t* GetLaunchProgram() = 0;
    virtual bool GetMainPath(wchar_t* out) = 0;
    // Slots 23 and 24 repeat 17 and 16 under their own names.
    virtual const wchar_t* GetManifestDigest() = 0;
    virtual const wchar_t* SetManifestDigest(const wchar_t* text) = 0;
    virtual const wchar_t* GetApp() = 0;
    virtual const wchar_t* SetApp(const wchar_t* text) = 0;
    virtual const wchar_t* GetName() = 0;
    virtual const wchar_t* SetName(const wchar_t* text) = 0;
    virtual const wchar_t* GetCompany() = 0;
    virtual const wchar_t* SetCompany(const wchar_t* text) = 0;
    virtual const wchar_t* GetVersion() = 0;
    virtual const wchar_t* SetVersion(const wchar_t* text) = 0;
    virtual const wchar_t* GetHomepage() = 0;
    virtual const wchar_t* SetHomepage(const wchar_t* text) = 0;
    virtual const wchar_t* GetProtocol() = 0;
    virtual const wchar_t* SetProtocol(const wchar_t* text) = 0;
    virtual const wchar_t* GetCopyright() = 0;
    virtual const wchar_t* SetCopyright(const wchar_t* text) = 0;
    virtual const wchar_t* GetPublisher() = 0;
    virtual const wchar_t* SetPublisher(const wchar_t* text) = 0;
    virtual const wchar_t* GetMain() = 0;
    virtual const wchar_t* SetMain(const wchar_t* text) = 0;
    virtual const wchar_t* GetUninstaller() = 0;
    virtual const wchar_t* SetUninstaller(const wchar_t* text) = 0;
    virtual const wchar_t* GetUpdater() = 0;
    virtual const wchar_t* SetUpdater(const wchar_t* text) = 0;
    virtual const wchar_t* GetStorages() = 0;
    virtual const wchar_t* SetStorages(const wchar_t* text) = 0;
    virtual const wchar_t* GetArchive() = 0;
    virtual const wchar_t* SetArchive(const wchar_t* text) = 0;
    virtual const wchar_t* GetSource() = 0;
    virtual const wchar_t* SetSource(const wchar_t* text) = 0;
    virtual const wchar_t* GetConfig() = 0;
    virtual const wchar_t* SetConfig(const wchar_t* text) = 0;

protected:
    ~IClientInfo() = default;
};

class CClientInfo : public IClientInfo {
public:
    CClientInfo();

    bool LoadFromLibrary(const wchar_t* file, const wchar_t* type, uint16_t id) override;
    bool LoadFromModule(HMODULE module, const wchar_t* type, uint16_t id) override;
    uint32_t SaveToResource(const wchar_t* file, const wchar_t* type, uint16_t id,
                            bool packed) override;
    bool LoadFromFile(const wchar_t* path) override;
    uint32_t SaveToFile(const wchar_t* path, bool packed) override;
    bool LoadFromData(const void* data, uint32_t size) override;
    uint32_t SaveToData(void* out, uint32_t capacity, bool packed) override;
    bool ParseText(const wchar_t* text, size_t length) override;
    uint32_t FormatText(wchar_t* out, uint32_t capacity) override;
    // Registry integration (client_registry.cpp).
    bool WriteRegistry() override;
    bool DeleteRegistry() override;
    // Updater hand-off (client_updater.cpp).
    bool DeleteUpdaterCopy() override;
    bool DownloadManifestDigest(wchar_t* out) override;
    bool IsUpdateAvailable() override;
    bool RunUpdater() override;
    bool RunMain() override;

    const wchar_t* SetDigest(const wchar_t* t) override { return md5.Assign(t); }
    const wchar_t* GetDigest() override { return md5.c_str(); }
    const wchar_t* SetInstallPath(const wchar_t* t) override { return path.Assign(t); }
    const wchar_t* GetInstallPath() override { return path.c_str(); }
    const wchar_t* SetLaunchProgram(const wchar_t* t) override { return launch.Assign(t); }
    const wchar_t* GetLaunchProgram() override { return launch.c_str(); }
    bool GetMainPath(wchar_t* out) override;
    const wchar_t* GetManifestDigest() override { return md5.c_str(); }
    const wchar_t* SetManifestDigest(const wchar_t* t) override { return md5.Assign(t); }
    const wchar_t* GetApp() override { return app.c_str(); }
    const wchar_t* SetApp(const wchar_t* t) override { return app.Assign(t); }
    const wchar_t* GetName() override { return name.c_str(); }
    const wchar_t* SetName(const wchar_t* t) override { return name.Assign(t); }
    const wchar_t* GetCompany() override { return company.c_str(); }
    const wchar_t* SetCompany(const wchar_t* t) override { return company.Assign(t); }
    const wchar_t* GetVersion() override { return version.c_str(); }
    const wchar_t* SetVersion(const wchar_t* t) override { return version.Assign(t); }
    const wchar_t* GetHomepage() override { return homepage.c_str(); }
    const wchar_t* SetHomepage(const wchar_t* t) override { return homepage.Assign(t); }
    const wchar_t* GetProtocol() override { return protocol.c_str(); }
    const wchar_t* SetProtocol(const wchar_t* t) override { return protocol.Assign(t); }
    const wchar_t* GetCopyright() override { return copyright.c_str(); }
    const wchar_t* SetCopyright(const wchar_t* t) override { return copyright.Assign(t); }
    const wchar_t* GetPublisher() override { return publisher.c_str(); }
    const wchar_t* SetPublisher(const wchar_t* t) override { return publisher.Assign(t); }
    const wchar_t* GetMain() override { return main.c_str(); }
    const wchar_t* SetMain(const wchar_t* t) override { return main.Assign(t); }
    const wchar_t* GetUninstaller() override { return uninstaller.c_str(); }
    const wchar_t* SetUninstaller(const wchar_t* t) override { return uninstaller.Assign(t); }
    const wchar_t* GetUpdater() override { return updater.c_str(); }
    const wchar_t* SetUpdater(const wchar_t* t) override { return updater.Assign(t); }
    const wchar_t* GetStorages() override { return storages.c_str(); }
    const wchar_t* SetStorages(const wchar_t* t) override { return storages.Assign(t); }
    const wchar_t* GetArchive() override { return archive.c_str(); }
    const wchar_t* SetArchive(const wchar_t* t) override { return archive.Assign(t); }
    const wchar_t* GetSource() override { return source.c_str(); }
    const wchar_t* SetSource(const wchar_t* t) override { return source.Assign(t); }
    const wchar_t* GetConfig() override { return config.c_str(); }
    const wchar_t* SetConfig(const wchar_t* t) override { return config.Assign(t); }

    FixedString<32> md5;
    FixedString<127> app;
    FixedString<127> name;
    FixedString<127> company;
    FixedString<127> version;
    FixedString<127> main;
    FixedString<127> uninstaller;
    FixedString<127> updater;
    FixedString<511> storages;
    FixedString<511> source;
    FixedString<511> archive;
    FixedString<511> config;
    FixedString<511> homepage;
    FixedString<511> protocol;
    FixedString<511> copyright;
    FixedString<511> publisher;
    FixedString<511> path;
    FixedString<511> launch;
    // The installed files' size for the uninstall entry; 0: not written.
    uint32_t estimatedKiB = 0;
};
