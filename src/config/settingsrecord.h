#pragma once

#include <QString>

#include <array>
#include <cstdint>

class CRegister;

// Where the intake saves new files: one of four choices, and for the
// "By File Info" choice the way the sub-folder is named.
enum class SaveChoice { LastDirectory, SameDirectory, ByFileType, ByFileInfo };
enum class SubFolderNaming { ServerName, CurrentDate, FileExtension };
// What the intake does with a new URL.
enum class NewDownloadOption { StartNow, AddToList, Ask };

struct SaveLocationRules {
    SaveChoice choice = SaveChoice::LastDirectory;
    SubFolderNaming naming = SubFolderNaming::ServerName;
    QString sameDirectory; // folder of the "Same Directory" choice
    QString parentDirectory; // parent folder of the "By File Info" choice
};

// The program-wide settings of Tessel, filled from the store by
// LoadSettings() at start-up and after every save of the settings dialog.
// Field names are the store's key names.
struct SettingsRecord {
    std::int32_t Downloads = 0;
    qint64 AllBytes = 0; // total bytes downloaded; 64-bit so totals past 2 GiB stay exact
    bool ClickCapture = true;
    bool ClipboardMonitoring = true;
    bool UsePASV = false;
    bool UseProxy = false;
    bool LoginProxy = false;
    bool UsePass = false;
    QString ProxyServer;
    int ProxyPort = 80; // 0..65535
    bool UseFTPProxy = false;
    QString UserID;
    QString UserPass;
    int Timeout = 60;       // seconds
    bool StopResume = true;
    int TimeResume = 300;   // seconds idle before stop-and-resume when the server can resume
    int TimeNoResume = 600; // seconds idle when it cannot
    bool Retry = true;
    int RetryTime = 300;
    int Retries = 30;
    std::int32_t Rollback = 4096; // bytes fetched again before a resume point
    std::uint8_t Segment = 0;
    // File-size thresholds of the segment table, in bytes.
    // SegmentSize3, 5, 7 and 9 are one byte above their stored value, so each
    // row's lower bound lies just above the previous row's upper bound.
    std::array<double, 9> SegmentSize{2097152, 5242880, 5242881, 10485760, 10485761,
                                      15728640, 15728641, 20971520, 20971521};
    bool DownloadNowOption = false;
    bool DownloadLaterOption = false;
    bool DownloadPromptOption = true;
    bool StartupWithWindows = false;

    // Read by the settings dialog model when it populates itself.
    bool PromptDone = false;
    bool CloseDownloadWindowWhenDone = false;
    SaveLocationRules saveLocation;

    // The answer of the existing-file prompt: 0 overwrite, -1 resume,
    // -2 cancel. The loader leaves it at cancel.
    std::int16_t intExistChoice = -2;

    NewDownloadOption newDownloadOption() const;
};

// Reads every setting from Tessel's section of the store, in a fixed order,
// each with its default when the value is missing or does not convert.
void LoadSettings(SettingsRecord &record, const CRegister &reg);
