#include "shared/timer_settings.h"

TimerSettingsRecord TimerSettings;
