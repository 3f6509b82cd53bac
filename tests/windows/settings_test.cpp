#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "driver.h"
#include "settings/registry_key.h"
#include "settings/settings_store.h"
#include "shared/timer_settings.h"

using driver::ReadDword;
using driver::SettingsKey;
using driver::WriteDword;

namespace {

class SettingsStore : public ::testing::Test {
protected:
    SettingsStore() { driver::DeleteKey(SettingsKey); }

    static void FillMemoryWith(std::uint32_t interval, std::int32_t other)
    {
        TimerSettings.IntervalMicroSecs.store(interval);
        TimerSettings.BgColor.store(other);
        TimerSettings.DisplayMode.store(other);
        TimerSettings.VSyncMode.store(other);
    }

    static void ExpectDefaults()
    {
        EXPECT_EQ(TimerSettings.IntervalMicroSecs.load(), 100000u);
        EXPECT_EQ(TimerSettings.BgColor.load(), 1);
        EXPECT_EQ(TimerSettings.DisplayMode.load(), 1);
        EXPECT_EQ(TimerSettings.VSyncMode.load(), 1);
    }

    driver::SavedRegistryKey saved_{SettingsKey};
};

TEST_F(SettingsStore, FreshKeyLoadsDefaultsAndIsCreatedWithoutValues)
{
    FillMemoryWith(7, 42);
    LoadSettings();
    ExpectDefaults();
    EXPECT_TRUE(driver::KeyExists(SettingsKey));
    EXPECT_EQ(driver::ValueCount(SettingsKey), 0u);
}

TEST_F(SettingsStore, SaveWritesAllFourAsDwords)
{
    TimerSettings.IntervalMicroSecs.store(16666);
    TimerSettings.BgColor.store(2);
    TimerSettings.DisplayMode.store(0);
    TimerSettings.VSyncMode.store(0);
    SaveSettings();

    EXPECT_EQ(driver::ValueCount(SettingsKey), 4u);
    DWORD value = 0;
    ASSERT_TRUE(ReadDword(SettingsKey, L"IntervalMicroSecs", &value));
    EXPECT_EQ(value, 16666u);
    ASSERT_TRUE(ReadDword(SettingsKey, L"BgColor", &value));
    EXPECT_EQ(value, 2u);
    ASSERT_TRUE(ReadDword(SettingsKey, L"DisplayMode", &value));
    EXPECT_EQ(value, 0u);
    ASSERT_TRUE(ReadDword(SettingsKey, L"VSyncMode", &value));
    EXPECT_EQ(value, 0u);
}

TEST_F(SettingsStore, SavedValuesLoadBackUnchanged)
{
    TimerSettings.IntervalMicroSecs.store(0);
    TimerSettings.BgColor.store(-1);
    TimerSettings.DisplayMode.store(0);
    TimerSettings.VSyncMode.store(0);
    SaveSettings();
    FillMemoryWith(123, 9);
    LoadSettings();
    EXPECT_EQ(TimerSettings.IntervalMicroSecs.load(), 0u);  // back-to-back ticks, kept as stored
    EXPECT_EQ(TimerSettings.BgColor.load(), -1);
    EXPECT_EQ(TimerSettings.DisplayMode.load(), 0);
    EXPECT_EQ(TimerSettings.VSyncMode.load(), 0);
}

TEST_F(SettingsStore, AnyNonZeroVSyncModeIsKeptAsStored)
{
    WriteDword(SettingsKey, L"VSyncMode", 5);
    LoadSettings();
    EXPECT_EQ(TimerSettings.VSyncMode.load(), 5);
}

TEST_F(SettingsStore, MissingValuesKeepTheirDefaultsBesideStoredOnes)
{
    WriteDword(SettingsKey, L"BgColor", 4);
    LoadSettings();
    EXPECT_EQ(TimerSettings.IntervalMicroSecs.load(), 100000u);
    EXPECT_EQ(TimerSettings.BgColor.load(), 4);
    EXPECT_EQ(TimerSettings.DisplayMode.load(), 1);
}

TEST_F(SettingsStore, ValuesOfAnotherTypeOrSizeKeepTheirDefaults)
{
    const wchar_t text[] = L"3";
    driver::WriteRaw(SettingsKey, L"BgColor", REG_SZ, text, sizeof(text));  // 4 bytes, but a string
    const std::uint64_t wide = 0;
    driver::WriteRaw(SettingsKey, L"DisplayMode", REG_QWORD, &wide, sizeof(wide));
    const std::uint8_t shortData[2] = {0x10, 0x27};
    driver::WriteRaw(SettingsKey, L"IntervalMicroSecs", REG_BINARY, shortData, sizeof(shortData));
    const std::uint8_t longDword[8] = {};
    driver::WriteRaw(SettingsKey, L"VSyncMode", REG_DWORD, longDword, sizeof(longDword));

    FillMemoryWith(7, 42);
    LoadSettings();
    ExpectDefaults();
}

TEST(RegistryKey, OpenCreatesAMissingKeyAndReopensAnExistingOne)
{
    const wchar_t subKey[] = L"Software\\MORV\\RegistryKeyTest";
    driver::SavedRegistryKey saved{L"Software\\MORV"};
    driver::DeleteKey(subKey);

    RegistryKey key;
    ASSERT_TRUE(key.Open(subKey));
    ASSERT_NE(key.Handle(), nullptr);
    EXPECT_TRUE(driver::KeyExists(subKey));
    const DWORD value = 77;
    EXPECT_EQ(RegSetValueExW(key.Handle(), L"Probe", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof(value)),
              ERROR_SUCCESS);

    ASSERT_TRUE(key.Open(subKey));  // closes the first handle, opens again
    DWORD read = 0;
    DWORD size = sizeof(read);
    EXPECT_EQ(RegQueryValueExW(key.Handle(), L"Probe", nullptr, nullptr, reinterpret_cast<BYTE*>(&read), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(read, 77u);
}

}  // namespace
