// A sandbox for installer runs on bad input: the installation directory sits
// deep inside a temporary tree, the installer's working folder is in the same
// tree, and everything outside the installation directory (the rest of the
// tree and the roots of the Wine drives) is listed before and after a run.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "client/client_info.h"
#include "tests/app/e2e_util.h"
#include "tests/app/package_fixture.h"
#include "tests/common/test_util.h"

namespace hostile {

std::wstring Widen(const std::string& s);
std::string Text(const std::vector<uint8_t>& v);
// Every file and folder under dir (folders end with "\"), as full paths.
void ListTree(const std::wstring& dir, std::set<std::wstring>* out);
// The top level of a folder only.
std::set<std::wstring> ListTop(const std::wstring& dir);
// The packed container of bytes, as the "TAIL" resource holds a payload.
std::vector<uint8_t> Packed(const std::vector<uint8_t>& bytes);
// A copy of installer.exe with the configuration and a raw "TAIL" resource
// (any bytes; nothing when empty).
bool BuildWithTail(const std::wstring& out, CClientInfo& config, const std::vector<uint8_t>& tail);

class Sandbox : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The payload: the skin, an inner archive "app.zip" of the client
    // items, and update.xml.
    std::vector<fixture::ZipItem> PayloadItems(const std::vector<fixture::ZipItem>& client);
    std::vector<uint8_t> Payload(const std::vector<fixture::ZipItem>& items);
    std::wstring Build(const std::vector<fixture::ZipItem>& payloadItems);
    std::wstring BuildTail(const std::vector<uint8_t>& tail);

    // A silent run to its end; the exit code, or ~0u when it did not end.
    DWORD RunSilent(const std::wstring& exe);
    // Lists what lies outside the installation directory.
    void Snapshot();
    // Nothing outside the installation directory appeared, went or changed.
    void ExpectOutsideUnchanged();
    void ExpectNotRegistered();
    // Back to the state of SetUp between the cases of one test: no records,
    // shortcuts or client, the registry's path at the installation folder.
    void ResetProduct();

    std::wstring Installed(const std::wstring& relative) { return installDir + relative; }

    testing_util::TempDir temp;
    CClientInfo config;
    std::wstring tag, company, name, productKey, installDir, workDir, sentinel;
    int builds = 0;

private:
    std::set<std::wstring> treeBefore_, driveCBefore_, driveZBefore_;
    std::string sentinelBytes_;
    wchar_t oldWorkDir_[MAX_PATH] = {};
};

}  // namespace hostile
