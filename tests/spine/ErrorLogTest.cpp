#include <gtest/gtest.h>

#include <iconv.h>
#include <stdlib.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "common/CLog.h"
#include "common/LogText.h"
#include "tests/spine/SpineSupport.h"

namespace halvora {
namespace {

using spine::FileLines;
using spine::HasLogStamp;
using spine::ReadFileBytes;
using spine::TempDir;

// Sets TZ for the test's lifetime, so that a stamp written in local time would
// differ from the UTC one.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
            had_ = true;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ScopedTimeZone() {
        if (had_) {
            ::setenv("TZ", old_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

std::time_t Utc(int year, int month, int day, int hour, int minute, int second) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return ::timegm(&t);
}

std::string ToWindows1251(const std::string& utf8) {
    iconv_t cd = ::iconv_open("CP1251", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        throw std::runtime_error("iconv has no CP1251");
    }
    std::string in = utf8;
    std::string out(in.size() * 2 + 4, '\0');
    char* src = in.data();
    char* dst = out.data();
    std::size_t src_left = in.size();
    std::size_t dst_left = out.size();
    const std::size_t rc = ::iconv(cd, &src, &src_left, &dst, &dst_left);
    ::iconv_close(cd);
    if (rc == static_cast<std::size_t>(-1)) {
        throw std::runtime_error("cannot convert to CP1251: " + utf8);
    }
    out.resize(out.size() - dst_left);
    return out;
}

struct StampCase {
    std::time_t when;
    const char* text;
};

class LogStamp : public ::testing::TestWithParam<StampCase> {};

TEST_P(LogStamp, IsTheEighteenCharacterUtcFormWhateverTheLocalZone) {
    for (const char* zone : {"UTC0", "ABC+10", "XYZ-14"}) {
        ScopedTimeZone tz(zone);
        EXPECT_EQ(CLog::TimeStamp(GetParam().when), GetParam().text) << "TZ=" << zone;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dates, LogStamp,
    ::testing::Values(StampCase{Utc(2005, 3, 7, 14, 2, 9), "03/07/05 14:02:09 "},
                      StampCase{Utc(2005, 12, 31, 23, 59, 59), "12/31/05 23:59:59 "},
                      StampCase{Utc(2000, 1, 1, 0, 0, 0), "01/01/00 00:00:00 "},
                      StampCase{Utc(2024, 2, 29, 9, 5, 1), "02/29/24 09:05:01 "}));

class ErrorLog : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path file = dir / "errors.log";
};

TEST_F(ErrorLog, AnEntryIsTheUtcStampThenPrefixAndFailureThenOneLineFeed) {
    ScopedTimeZone tz("XYZ-14");
    CLog log(file);
    const std::time_t before = std::time(nullptr);
    log.Write("LoadContacts: ", "bad record");
    const std::time_t after = std::time(nullptr);
    const std::string text = ReadFileBytes(file);
    ASSERT_EQ(text.size(), 18u + 14u + 10u + 1u) << text;
    const std::string stamp = text.substr(0, 18);
    EXPECT_TRUE(stamp == CLog::TimeStamp(before) || stamp == CLog::TimeStamp(after)) << stamp;
    EXPECT_EQ(text.substr(18), "LoadContacts: bad record\n");
}

TEST_F(ErrorLog, AnEmptyFailureLeavesStampAndPrefixAndAnEmptyMessageLeavesTheStamp) {
    CLog log(file);
    log.Write("SaveContacts: ", "");
    log.Write("");
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(HasLogStamp(lines[0]));
    EXPECT_EQ(lines[0].substr(18), "SaveContacts: ");
    EXPECT_EQ(lines[1].size(), 18u);
    EXPECT_TRUE(HasLogStamp(lines[1]));
}

TEST_F(ErrorLog, EntriesAreAppendedToWhatTheFileHolds) {
    spine::WriteFileBytes(file, "earlier entry\n");
    CLog log(file);
    log.Write("one");
    log.Write("two");
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "earlier entry");
    EXPECT_EQ(lines[1].substr(18), "one");
    EXPECT_EQ(lines[2].substr(18), "two");
}

TEST_F(ErrorLog, TwoThreadsWritingAtOnceGiveWholeLines) {
    CLog log(file);
    constexpr int kEach = 300;
    // Long entries, so that an entry written in several pieces would show.
    const std::string a(6000, 'a');
    const std::string b(6000, 'b');
    std::atomic<bool> go{false};
    auto writer = [&](const std::string& body) {
        while (!go.load()) {
        }
        for (int i = 0; i < kEach; ++i) {
            log.Write(body, std::to_string(i));
        }
    };
    std::thread t1(writer, std::cref(a));
    std::thread t2(writer, std::cref(b));
    go = true;
    t1.join();
    t2.join();
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 2u * kEach);
    std::vector<int> next(2, 0);
    for (const auto& line : lines) {
        ASSERT_TRUE(HasLogStamp(line)) << line.substr(0, 40);
        const std::string message = line.substr(18);
        const int who = message[0] == 'a' ? 0 : 1;
        const std::string& body = who == 0 ? a : b;
        ASSERT_EQ(message, body + std::to_string(next[static_cast<std::size_t>(who)]))
            << "an entry was mixed with another one";
        ++next[static_cast<std::size_t>(who)];
    }
}

TEST_F(ErrorLog, ADeletedLogIsCreatedAgainByTheNextEntry) {
    CLog log(file);
    log.Write("first");
    ASSERT_TRUE(std::filesystem::remove(file));
    log.Write("second");
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(18), "second");
}

TEST_F(ErrorLog, ALogThatCannotBeWrittenDropsEntriesAndTheCallerGoesOn) {
    // A folder in the log's place, a folder that does not exist, and a device
    // that refuses every byte.
    std::filesystem::create_directory(dir / "taken");
    for (const std::filesystem::path& path :
         {dir / "taken", dir / "missing" / "errors.log", std::filesystem::path("/dev/full")}) {
        CLog log(path);
        log.Write("lost", " entry");
        log.Write("");
    }
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "taken"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST_F(ErrorLog, TheParseForMemoEntrySpansTwoLinesOfTheFile) {
    CLog log(file);
    log.Write(logtext::kLogParseForMemo, "failure");
    const std::string text = ReadFileBytes(file);
    ASSERT_GE(text.size(), 18u);
    EXPECT_EQ(text.substr(18), std::string(logtext::kLogParseForMemo) + "failure\n");
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(HasLogStamp(lines[0]));
    EXPECT_EQ(lines[0].substr(18, 14), "ParseForMemo: ");
    EXPECT_EQ(lines[1].substr(0, 3), " \r ");
}

TEST_F(ErrorLog, LogErrorWritesIntoTheProcessLogsFolder) {
    CLog::Instance().SetFolder(dir.Path());
    EXPECT_EQ(CLog::Instance().Path(), file);
    LogError(logtext::kLogSaveContacts, "disk full");
    const auto lines = FileLines(file);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(18), std::string(logtext::kLogSaveContacts) + "disk full");
}

TEST(LogText, PrefixesAreWindows1251Bytes) {
    // "Ошибка" in windows-1251, after each operation's own text.
    EXPECT_EQ(logtext::kLogFormShow.substr(0, 17), "FormShow:  \xCE\xF8\xE8\xE1\xEA\xE0");
    EXPECT_EQ(logtext::kLogLoadContacts,
              "LoadContacts: \xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8 \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE5 "
              "\xF1\xEF\xE8\xF1\xEA\xE0 \xEA\xEE\xED\xF2\xE0\xEA\xF2\xEE\xE2 \xE8\xE7 \xF4\xE0\xE9\xEB\xE0: ");
    EXPECT_EQ(logtext::kLogInitAudio,
              "InitAudio: \xCE\xF8\xE8\xE1\xEA\xE0 \xEF\xF0\xE8  "
              "\xC8\xCD\xC8\xD6\xC8\xC0\xCB\xC8\xC7\xC0\xD6\xC8\xC8 \xC0\xD3\xC4\xC8\xCE: ");
}

struct PrefixCase {
    const char* name;
    std::string_view bytes;
    const char* utf8;
};

// Every prefix as the operator reads it; the log must hold its windows-1251 form.
const PrefixCase kPrefixes[] = {
    {"kLogWaveWorkerQueue", logtext::kLogWaveWorkerQueue, "MyWaveInWorker:  Ошибка при наполнении буфера аудио потоков: "},
    {"kLogWaveWorkerEncode", logtext::kLogWaveWorkerEncode, "MyWaveInWorker:  Ошибка возможно при сжатии аудио: "},
    {"kLogFormShow", logtext::kLogFormShow, "FormShow:  Ошибка Инициализации при открытии формы: "},
    {"kLogFormClose", logtext::kLogFormClose, "FormClose:  Ошибка при закрытии формы: "},
    {"kLogSendTextAll", logtext::kLogSendTextAll, "SendText:  Ошибка при наполнении буфера при рассылке всем клиентам чата: "},
    {"kLogSendTextRow", logtext::kLogSendTextRow, "SendText:  Ошибка при наполнении буфера при отсылке клиенту чата по номеру из списка: "},
    {"kLogSendTextContact", logtext::kLogSendTextContact, "SendText:  Ошибка при наполнении буфера при отсылке клиенту чата по указателю: "},
    {"kLogTimer1Queue", logtext::kLogTimer1Queue, "Timer1Timer: Ошибка наполнения буфера аудио потоков: "},
    {"kLogTimer1Other", logtext::kLogTimer1Other, "Timer1Timer: Ошибка возможно при аудио захвате: "},
    {"kLogServerSocketGetThread", logtext::kLogServerSocketGetThread, "ServerSocket1GetThread: Ошибка включения выключения аудио или при смене картинок: "},
    {"kLogUpdateOnLine", logtext::kLogUpdateOnLine, "UpdateOnLine: Ошибка при обновлении спаска активных клиентов: "},
    {"kLogListView2Data", logtext::kLogListView2Data, "ListView2Data: Ошибка при обновлении спаска активных клиентов: "},
    {"kLogListView2DrawItem", logtext::kLogListView2DrawItem, "ListView2DrawItem: Ошибка при перерисовке списка Он лайновых клиентов в ListView-ере: "},
    {"kLogListView2SelectItem", logtext::kLogListView2SelectItem, "ListView2SelectItem: Ошибка при событии выбора клиента из списка: "},
    {"kLogLoadContacts", logtext::kLogLoadContacts, "LoadContacts: Ошибка при загрузке списка контактов из файла: "},
    {"kLogSaveContacts", logtext::kLogSaveContacts, "SaveContacts: Ошибка при сохранении списка контактов в файл: "},
    {"kLogParseForMemo", logtext::kLogParseForMemo, "ParseForMemo: Ошибка при Парсилке \n \r для чат сообщений  и вывода в мемо: "},
    {"kLogTimer3Queue", logtext::kLogTimer3Queue, "Timer3Timer: Ошибка наполнения буфера аудио или видео потоков: "},
    {"kLogStartCamera", logtext::kLogStartCamera, "StartCamera: Ошибка Инициализвция камеры по номеру: "},
    {"kLogSetActiveCamera", logtext::kLogSetActiveCamera, "SetActiveCamera: Ошибка Установка активной кмеры: "},
    {"kLogClearChat", logtext::kLogClearChat, "SpeedButton16Click: Ошибка при очистке истории чата: "},
    {"kLogInitAudio", logtext::kLogInitAudio, "InitAudio: Ошибка при  ИНИЦИАЛИЗАЦИИ АУДИО: "},
    {"kLogGrabCopyRows", logtext::kLogGrabCopyRows, "cap4BitmapGrabbed:  for( int y = 0; y < 240; y++ ) Ошибка "},
    {"kLogVideoQueue", logtext::kLogVideoQueue, "VideoStreamCallback:  Ошибка при наполнении буфера видео потоков: "},
    {"kLogGrabOther", logtext::kLogGrabOther, "cap1BitmapGrabbed:  Ошибка при наполнении буфера видео потоков: "},
    {"kLogFormDestroy", logtext::kLogFormDestroy, "VideoStreamCallback:  Ошибка при pfrhsnvvvvvvv"},
    {"kLogSendChat", logtext::kLogSendChat, "ActionSendTextExecute: Ошибка при Экшин отправки Чата: "},
    {"kLogStreamHeader", logtext::kLogStreamHeader, "void \t__fastcall TMyServerSendThread::SendVideoAudioChat() if(!Terminated && ClientSocket->Connected)"},
    {"kLogGetCommand", logtext::kLogGetCommand, "int __fastcall TMyServerSendThread::GetCommand(void) \t\tpStream = new TWinSocketStream(ClientSocket, 2000);"},
    {"kLogEditGraphConfig", logtext::kLogEditGraphConfig, "bool EditGraphConfig(TGraphConfig* config):  Ошибка "},
    {"kLogGraphConfigCreate", logtext::kLogGraphConfigCreate, "void __fastcall TFGraphConfig::FormCreate(TObject *Sender):  Ошибка "},
    {"kLogOptionsApply", logtext::kLogOptionsApply, "Timer3Timer: Ошибка Action установки битрейтов и кейфремов: "},
    {"kLogStartRecord", logtext::kLogStartRecord, "SpeedButton12Click: Ошибка Старт записи видео и аудио в файл: "},
    {"kLogStopRecord", logtext::kLogStopRecord, "SpeedButton13Click: Ошибка Остановка записи видео и аудио в файл: "},
    {"kLogFileSendRegistry", logtext::kLogFileSendRegistry, "TForm1::SpeedButton17Click: Ошибка записи файла отсылки в реестр: "},
};

TEST(LogText, EveryPrefixIsItsRussianTextInWindows1251) {
    for (const PrefixCase& c : kPrefixes) {
        EXPECT_EQ(std::string(c.bytes), ToWindows1251(c.utf8)) << c.name;
    }
}

}  // namespace
}  // namespace halvora
