#include "app/PerUserInstall.h"

#include "platform/FileSystem.h"

std::string PerUserInstallQuestion(const PerUserInstallOffer& offer) {
    return "You cannot write to the install folder '" + platform::DisplayPath(offer.installFolder) +
           "', so this run could not keep its patch log, catalogues or VOD packages there.\n\n"
           "Make your own install folder '" +
           platform::DisplayPath(offer.perUserFolder) + "' from it and use it from now on? It is recorded in '" +
           platform::DisplayPath(offer.perUserStore) + "'.";
}

std::optional<PerUserInstallOffer> PerUserInstallOfferFor(const std::string& installFolder) {
    if (CanWriteInstallFolder(installFolder)) return std::nullopt;
    PerUserInstallOffer offer{installFolder, InstallStore::PerUserInstallPath(), InstallStore::PerUserStorePath()};
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
    } else if (const std::error_code recordError =
                   RecordInstallFolder(offer.perUserStore, offer.perUserFolder, inUse)) {
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
