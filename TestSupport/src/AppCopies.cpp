#include "TestSupport/AppCopies.hpp"

#include <TestSupport/FileContents.hpp>

#include <Platform/CodeSigning.hpp>
#include <Platform/PropertyList.hpp>

#include <gtest/gtest.h>

namespace TestSupport {

namespace fs = std::filesystem;

void copyBundle(const fs::path& from, const fs::path& to) {
    std::error_code error;
    fs::create_directories(to.parent_path(), error);
    if (!error) fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
    if (error) ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << error.message();
}

void makeRelease(const SimMachine& machine, const fs::path& app, const std::string& version) {
    auto signature = Platform::CodeSigning::signingInformation(app);
    if (!signature || signature->certificates.empty()) {
        ADD_FAILURE() << app << " is not signed by a certificate";
        return;
    }
    fs::path infoFile = app / "Contents/Info.plist";
    auto info = Platform::readPropertyList(infoFile);
    auto* keys = info ? std::get_if<Platform::PropertyDictionary>(&info->value) : nullptr;
    if (keys == nullptr) {
        ADD_FAILURE() << infoFile << " cannot be read";
        return;
    }
    (*keys)["CFBundleShortVersionString"] = version;
    (*keys)["CFBundleVersion"] = version;
    writeFile(infoFile, Platform::encodePropertyList(*info, Platform::PropertyListFormat::xml));

    std::vector<std::string> sign{"sign", app.string(), "--identity", signature->certificates.front()};
    if (signature->flags & Platform::CodeSigning::runtimeFlag) sign.push_back("--hardened");
    auto result = machine.sim(sign);
    if (result.status != 0) ADD_FAILURE() << "signing " << app << " failed: " << result.err;
}

} // namespace TestSupport
