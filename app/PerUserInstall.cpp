#include "app/PerUserInstall.h"

#include "platform/FileSystem.h"
#ifdef _WIN32
#include "platform/win32/PerUser.h"
#endif

namespace {

#ifdef _WIN32
// One's own install folder is %LOCALAPPDATA%\Quarvel, recorded under the
// user's own registry key, which the programs read before the machine's.
std::string PerUserFolder() {
    const std::string local = platform::LocalAppDataFolder();
    return local.empty() ? local : platform::JoinPath(platform::AbsolutePath(local), "Quarvel");
}

std::string PerUserStore() {
    return platform::UserInstallRegistryKeyName();
}

std::error_code RecordPerUserFolder(const PerUserInstallOffer& offer, const InstallStore&) {
    // The registry spells paths the Windows way, as the installer writes them.
    return platform::WriteUserInstallRegistryValue("NB Path", platform::DisplayPath(offer.perUserFolder));
}
#else
std::string PerUserFolder() {
    return InstallStore::PerUserInstallPath();
}

std::string PerUserStore() {
    return InstallStore::PerUserStorePath();
}

std::error_code RecordPerUserFolder(const PerUserInstallOffer& offer, const InstallStore& inUse) {
    return RecordInstallFolder(offer.perUserStore, offer.perUserFolder, inUse);
}
#endif

}  // namespace

InstallStore PerUserStoreOf([[maybe_unused]] const PerUserInstallOffer& offer) {
#ifdef _WIN32
    // The registry as the programs read it: the user's value first, the
    // machine's for the values the user's key does not hold.
    return InstallStore::Registry();
#else
    return InstallStore(offer.perUserStore);
#endif
}

std::string PerUserInstallQuestion(const PerUserInstallOffer& offer) {
    return "You cannot write to the install folder '" + platform::DisplayPath(offer.installFolder) +
           "', so this run could not keep its patch log, catalogues or VOD packages there.\n\n"
           "Make your own install folder '" +
           platform::DisplayPath(offer.perUserFolder) + "' from it and use it from now on? It is recorded in '" +
           platform::DisplayPath(offer.perUserStore) + "'.";
}

std::optional<PerUserInstallOffer> PerUserInstallOfferFor(const std::string& installFolder) {
    if (CanWriteInstallFolder(installFolder)) return std::nullopt;
    PerUserInstallOffer offer{installFolder, PerUserFolder(), PerUserStore()};
    if (offer.perUserFolder.empty() || offer.perUserStore.empty()) return std::nullopt;
    // One's own folder that cannot be written is a matter for its owner; a
    // copy of it into itself would not help.
    if (platform::AbsolutePath(installFolder) == platform::AbsolutePath(offer.perUserFolder)) return std::nullopt;
    return offer;
}

bool MakePerUserInstallIfAccepted(UserInterface& ui, const PerUserInstallOffer& offer, const InstallStore& inUse) {
    if (!ui.AcceptPerUserInstall(offer)) return false;
    std::string problem;
    if (const std::error_code ec = MakePerUserInstall(offer.installFolder, offer.perUserFolder)) {
        problem = "could not be made: " + ec.message();
    } else if (const std::error_code recordError = RecordPerUserFolder(offer, inUse)) {
        problem = "was made but could not be recorded in '" + platform::DisplayPath(offer.perUserStore) +
                  "': " + recordError.message();
    } else {
        return true;
    }
    ui.ShowMessage("Your own install folder '" + platform::DisplayPath(offer.perUserFolder) + "' " + problem +
                       ". This run uses '" + platform::DisplayPath(offer.installFolder) + "' as before.",
                   "Quarvel", MessageStyle::Stop);
    return false;
}
