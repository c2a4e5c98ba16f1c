#pragma once

#include <optional>
#include <string>

#include "app/InstallStore.h"
#include "app/UserInterface.h"

// The offer to make when the user cannot write `installFolder`: nothing when
// the folder can be written, when there is no home folder to put one's own
// in, or when the folder already is the per-user one. One's own folder is
// ${XDG_DATA_HOME:-~/.local/share}/quarvel/install recorded in the per-user
// store file on Linux, %LOCALAPPDATA%\Quarvel recorded under
// HKEY_CURRENT_USER\Software\Nimbrel on Windows.
std::optional<PerUserInstallOffer> PerUserInstallOfferFor(const std::string& installFolder);

// The store a run goes on with once the offer's folder is made and recorded.
InstallStore PerUserStoreOf(const PerUserInstallOffer& offer);

// The Yes/No question the desktop programs ask about `offer`, paths as the
// system spells them.
std::string PerUserInstallQuestion(const PerUserInstallOffer& offer);

// Asks `ui`; on Yes makes the per-user folder from the installation and
// records it in the per-user store (a new one starts as a copy of `inUse`).
// Returns whether the run goes on with it. A failure is shown, and the run
// then goes on as before.
[[nodiscard]] bool MakePerUserInstallIfAccepted(UserInterface& ui, const PerUserInstallOffer& offer,
                                                const InstallStore& inUse);
