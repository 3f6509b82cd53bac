#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "reader/digit_classifier.h"

// Learning the digits takes seconds; what was learnt is kept in a cache
// folder, one file per reader executable, named by what it was learnt from.
struct CachedClassifier {
    DigitClassifier classifier;
    bool readFromCache = false;
};

// $XDG_CACHE_HOME/tixabo-read, else ~/.cache/tixabo-read; nothing without
// either.
std::optional<std::filesystem::path> UserCacheFolder();

// The classifier of these families for this reader: read from `folder` when
// it was learnt there for the same installed fonts, else learnt and kept
// there (replacing this reader's older file). Without a folder, or when the
// folder cannot be written, it is learnt and not kept.
CachedClassifier CachedDigitClassifier(const std::vector<std::string>& fontFamilies,
                                       const std::optional<std::filesystem::path>& folder);

// The classifier of DefaultDigitFonts, made once per process through the
// user's cache folder.
const DigitClassifier& SharedDigitClassifier();
