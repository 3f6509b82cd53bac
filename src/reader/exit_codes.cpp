#include "reader/exit_codes.h"

int InputExitCode(const InputOutcome& outcome)
{
    if (outcome.problem == Rejection::UnreadableFile) return kExitUnreadableFile;
    if (outcome.problem == Rejection::NotImageOrVideo) return kExitNotImageOrVideo;
    if (outcome.problem == Rejection::TruncatedVideo || outcome.problem == Rejection::TruncatedPicture) {
        return kExitTruncatedVideo;
    }
    if (outcome.problem == Rejection::PictureTooLarge) return kExitPictureTooLarge;
    if (outcome.mostClocks == 0) return kExitNoClock;
    if (outcome.mostClocks == 1) return kExitOneClock;
    return kExitFine;
}

int MoreSeriousExitCode(int a, int b)
{
    if (a == kExitFine) return b;
    if (b == kExitFine) return a;
    return a < b ? a : b;
}
