// The hardware monitor window and its thread: rows on a chip in memory, then on
// the shipped virtual boards (W83627HF on "default", W83697HF on "via-km400").
#include <gtest/gtest.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <optional>
#include <thread>

#include "AppTestSupport.h"
#include "app/Format.h"
#include "app/HistoryGraph.h"
#include "app/HwMonitorThread.h"
#include "app/THwMonitorForm.h"
#include "app/TInfoForm.h"
#include "app/TMainForm.h"
#include "app/WindowThread.h"
#include "platform/ProfileFile.h"
#include "platform/WindowThread.h"
#include "sim/Board.h"
#include "support/InProcessDriverHandle.h"

namespace rq::app::test {
namespace {

// The fifteen sensors in the window's order; nullopt answers false.
using SensorValues = std::array<std::optional<double>, 15>;

class FakeMonitor : public devices::ISAHwMonitorIo {
 public:
  explicit FakeMonitor(std::shared_ptr<SensorValues> values, std::shared_ptr<std::atomic<int>> reads = {})
      : ISAHwMonitorIo("W83627HF", "Winbond hardware monitor", ResistorTable{}),
        values_(std::move(values)),
        reads_(std::move(reads)) {}
  bool Probe() override { return true; }
  bool ReadTempSensor1(double& v) override { return Get(0, v); }
  bool ReadTempSensor2(double& v) override { return Get(1, v); }
  bool ReadTempSensor3(double& v) override { return Get(2, v); }
  bool ReadFan1(std::int32_t& rpm) override { return GetFan(3, rpm); }
  bool ReadFan2(std::int32_t& rpm) override { return GetFan(4, rpm); }
  bool ReadFan3(std::int32_t& rpm) override { return GetFan(5, rpm); }
  bool ReadVCoreA(double& v) override { return Get(6, v); }
  bool ReadVCoreB(double& v) override { return Get(7, v); }
  bool ReadV33(double& v) override { return Get(8, v); }
  bool ReadV5(double& v) override { return Get(9, v); }
  bool ReadV12(double& v) override { return Get(10, v); }
  bool ReadVN12(double& v) override { return Get(11, v); }
  bool ReadVN5(double& v) override { return Get(12, v); }
  bool ReadVBAT(double& v) override { return Get(13, v); }
  bool Read5VSB(double& v) override { return Get(14, v); }

 private:
  bool Get(std::size_t i, double& v) const {
    if (reads_) ++*reads_;
    if (!(*values_)[i]) return false;
    v = *(*values_)[i];
    return true;
  }
  bool GetFan(std::size_t i, std::int32_t& rpm) const {
    double v = 0;
    if (!Get(i, v)) return false;
    rpm = static_cast<std::int32_t>(v);
    return true;
  }
  std::shared_ptr<SensorValues> values_;
  std::shared_ptr<std::atomic<int>> reads_;
};

struct RowText {
  const char* name;
  const char* value;
  const char* unit;
};

void ExpectRows(const THwMonitorForm& form, const std::vector<RowText>& expected) {
  ASSERT_EQ(expected.size(), kSensorRows);
  for (std::size_t row = 0; row < kSensorRows; ++row) {
    SCOPED_TRACE("row " + std::to_string(row));
    const THwMonitorForm::Row& r = form.Rows()[row];
    EXPECT_EQ(r.name->text().toStdString(), expected[row].name);
    EXPECT_EQ(r.value->text().toStdString(), expected[row].value);
    EXPECT_EQ(r.unit->text().toStdString(), expected[row].unit);
  }
}

// One pass of the monitor thread from a worker while this (the window) thread
// runs the events that carry its values.
void PassOnWorker(HwMonitorThread& thread) {
  std::atomic<bool> done{false};
  std::thread worker([&] {
    thread.RefreshSensorValues();
    done = true;
  });
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  worker.join();
}

class MonitorWindow : public AppTest {
 protected:
  void SetUp() override {}
  void StartWith(const SensorValues& answers) {
    *values = answers;
    monitor = [state = values, counted = reads] { return std::make_unique<FakeMonitor>(state, counted); };
    Build(BoardSpec{});
  }
  void WriteBoardKey(const std::string& key, const std::string& value) {
    system->WriteSettingString(system->boardModel, key, value);
  }
  std::shared_ptr<SensorValues> values = std::make_shared<SensorValues>();
  std::shared_ptr<std::atomic<int>> reads = std::make_shared<std::atomic<int>>(0);
};

// 2026-03-01 14:03:12 on this machine's clock, plus `seconds`.
engine::SensorClock::time_point At(int seconds) {
  const QDateTime start(QDate(2026, 3, 1), QTime(14, 3, 12));
  return engine::SensorClock::time_point(std::chrono::milliseconds(start.toMSecsSinceEpoch())) +
         std::chrono::seconds(seconds);
}

std::vector<double> Values(const std::vector<engine::SensorSample>& samples) {
  std::vector<double> values;
  for (const auto& s : samples) values.push_back(s.value);
  return values;
}

TEST_F(MonitorWindow, RowsTakeTheSensorsThatAnswerInOrderWithTheirFormsAndAtMostTwelve) {
  // Fifteen answers; the last three find no row.
  StartWith({45, 36.5, -3, 2812, 0, 1350, 1.6, -0.0, 3.3, 5.03, 12.16, -11.95, -5.1, 3.07, 5.05});
  for (const auto& [key, label] : {std::pair{"TempSensor1Label", "CPU Temp"},
                                   {"TempSensor2Label", "System Temp"},
                                   {"TempSensor3Label", "PWM"},
                                   {"Fan1Label", "CPU Fan"},
                                   {"Fan2Label", "Case Fan"},
                                   {"VCoreALabel", "VCore"}})
    WriteBoardKey(key, label);  // Fan3Label and VCoreBLabel left out: empty names
  THwMonitorForm form(*system);
  ExpectRows(form, {{"CPU Temp", "45", "C"},
                    {"System Temp", "36.5", "C"},
                    {"PWM", "-3", "C"},
                    {"CPU Fan", "2812", "RPM"},
                    {"Case Fan", "0", "RPM"},
                    {"", "1350", "RPM"},
                    {"VCore", "1.6", "V"},
                    {"", "0", "V"},
                    {"3.3V", "3.3", "V"},
                    {"5V", "5.03", "V"},
                    {"12V", "12.16", "V"},
                    {"-12V", "-11.95", "V"}});
}

TEST_F(MonitorWindow, AFailedReadShowsDashesInItsOwnRowAndEveryOtherValueStaysInItsRow) {
  StartWith({45, std::nullopt, std::nullopt, 2812, std::nullopt, std::nullopt, 1.6, std::nullopt, 3.3});
  WriteBoardKey("TempSensor1Label", "CPU Temp");
  THwMonitorForm form(*system);
  ExpectRows(form, {{"CPU Temp", "45", "C"},
                    {"", "2812", "RPM"},
                    {"", "1.6", "V"},
                    {"3.3V", "3.3", "V"},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""}});
  (*values)[3].reset();  // the fan's read fails
  (*values)[8] = 3.28;
  (*values)[9] = 5.0;  // answers now, but was given no row
  HwMonitorThread thread(*system);
  PassOnWorker(thread);
  ExpectRows(form, {{"CPU Temp", "45", "C"},
                    {"", "--", "RPM"},
                    {"", "1.6", "V"},
                    {"3.3V", "3.28", "V"},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""},
                    {"", "", ""}});
}

TEST_F(MonitorWindow, HistoryHoldsExactlyWhatEachRefreshReadWithoutReadingTheChipAgain) {
  StartWith({45, std::nullopt, std::nullopt, 2812});  // rows: temperature 1, fan 1
  THwMonitorForm form(*system);
  EXPECT_EQ(*reads, 15);  // the layout pass
  int second = 0;
  form.SetClock([&] { return At(second); });
  HwMonitorThread thread(*system);
  const std::vector<std::pair<double, std::optional<double>>> passes = {
      {46, 2900}, {48, std::nullopt}, {44, 2700}};
  for (const auto& [temperature, fan] : passes) {
    ++second;
    (*values)[0] = temperature;
    (*values)[3] = fan;
    PassOnWorker(thread);
  }
  EXPECT_EQ(*reads, 60);  // fifteen sensors a pass, nothing more for the graph or the hints
  EXPECT_EQ(Values(form.History().Samples(0)), (std::vector<double>{46, 48, 44}));
  EXPECT_EQ(Values(form.History().Samples(3)),
            (std::vector<double>{2900, 2700}));  // the failed read left out
  EXPECT_EQ(form.History().Samples(3)[1].at, At(3));
  EXPECT_EQ(form.GraphSensor(), 0u);
  EXPECT_EQ(Values(form.Graph().Drawn()), (std::vector<double>{46, 48, 44}));
  EXPECT_EQ(form.Graph().LowText(), "44");
  EXPECT_EQ(form.Graph().HighText(), "48");
  EXPECT_EQ(form.Rows()[0].value->toolTip(),
            "Minimum 44 C at 14:03:15\nMaximum 48 C at 14:03:14\nsince the panel first opened");
  EXPECT_EQ(form.Rows()[1].value->toolTip(),
            "Minimum 2700 RPM at 14:03:15\nMaximum 2900 RPM at 14:03:13\nsince the panel first opened");
}

TEST_F(MonitorWindow, GraphedSensorIsTheClickedRowsAfterARestartAndTheFirstTemperatureOtherwise) {
  StartWith({std::nullopt, 36.5, 40, 2812});  // rows: temperatures 2 and 3, fan 1
  auto form = std::make_unique<THwMonitorForm>(*system);
  EXPECT_EQ(form->GraphSensor(), 1u);  // no key yet
  QTest::mouseClick(form->Rows()[2].name, Qt::LeftButton);
  EXPECT_EQ(form->GraphSensor(), 3u);
  EXPECT_EQ(form->Graph().Title(), "Fan1, RPM");
  EXPECT_EQ(system->ReadSettingString(system->boardModel, "GraphSensor"), "Fan1");
  form.reset();
  form = std::make_unique<THwMonitorForm>(*system);
  EXPECT_EQ(form->GraphSensor(), 3u);
  for (const auto& [stored, sensor] : {std::pair{"", 1u},
                                       {"TempSensor3", 2u},
                                       {"fan1", 3u},
                                       {"Fan9", 1u},
                                       {"TempSensor1", 1u} /* no row */,
                                       {"3", 1u}}) {
    WriteBoardKey("GraphSensor", stored);
    EXPECT_EQ(THwMonitorForm(*system).GraphSensor(), sensor) << stored;
  }
}

TEST_F(MonitorWindow, WidestTextsFitTheirCellsClearOfTheSkinsDividerAt153) {
  StartWith({-12.5, -12.5, -12.5, 12345, 12345, 12345, -12.03, -12.03, -12.03, -12.03, -12.03, -12.03});
  WriteBoardKey("TempSensor1Label", "System Temp");
  THwMonitorForm form(*system);
  for (std::size_t row = 0; row < kSensorRows; ++row) {
    const THwMonitorForm::Row& r = form.Rows()[row];
    for (const QLabel* label : {r.name, r.value, r.unit})
      EXPECT_LE(QFontMetrics(label->font()).horizontalAdvance(label->text()), label->width()) << row;
    EXPECT_TRUE(row < kLeftColumnRows ? r.unit->geometry().right() < 150 : r.name->x() > 156) << row;
  }
}

TEST_F(MonitorWindow, TouchingTheRowsOffTheWindowThreadStopsTheProgram) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  StartWith({45});
  THwMonitorForm form(*system);
  EXPECT_DEATH(
      {
        std::thread worker([&] { form.ShowSensorValues({{0, 50}}); });
        worker.join();
      },
      "off the window thread");
}

TEST_F(MonitorWindow, WithoutAChipTheButtonIsUnavailableAndTheRowsKeepTheirDesignTexts) {
  Build(BoardSpec{});
  TMainForm::Options windowOptions;
  windowOptions.sleep = [](int) {};
  TMainForm main(*system, windowOptions);
  THwMonitorForm form(*system);
  main.show();
  EXPECT_EQ(main.HwMonitor->Visible(), ImageButton::Picture::Disable);
  EXPECT_FALSE(main.HwMonitor->isEnabled());
  EXPECT_EQ(form.Rows()[0].name->text(), "CPU Temp");
  EXPECT_EQ(form.Rows()[0].value->text(), "");
}

TEST_F(MonitorWindow, ThreadRunsOnlyWhileThePanelIsOutAndClosingWithItOutDoesNotHang) {
  *values = {45};
  // Shared with the thread, which outlives this body when an assertion ends it early.
  auto counted = std::make_shared<std::atomic<int>>(0);
  std::atomic<int>& passes = *counted;
  monitor = [state = values] { return std::make_unique<FakeMonitor>(state); };
  monitorThread = [counted](engine::MSupport& s) -> std::unique_ptr<platform::WorkerThread> {
    return std::make_unique<HwMonitorThread>(s, [counted](std::uint32_t) {
      ++*counted;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      return true;
    });
  };
  Build(BoardSpec{});
  TMainForm::Options windowOptions;
  windowOptions.sleep = [](int) {};
  auto main = std::make_unique<TMainForm>(*system, windowOptions);
  auto form = std::make_unique<THwMonitorForm>(*system);
  main->show();
  EXPECT_EQ(main->HwMonitor->Visible(), ImageButton::Picture::Up);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(passes, 0);  // made suspended

  (*values)[0] = 47;
  main->HwMonitorClick();
  ASSERT_TRUE(form->open);
  QElapsedTimer waited;
  waited.start();
  while (form->Rows()[0].value->text() != "47" && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(form->Rows()[0].value->text(), "47");

  main->HwMonitorClick();
  ASSERT_FALSE(form->open);
  // At most the pass under way finishes; then the thread waits.
  for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  const int afterClose = passes;
  waited.restart();
  while (waited.elapsed() < 100) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_LE(passes - afterClose, 1);

  // Closed with the panel out while the thread keeps handing values over.
  main->HwMonitorClick();
  waited.restart();
  while (passes < afterClose + 3 && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  EXPECT_GE(passes, afterClose + 3);
  main->close();
  form.reset();
  main.reset();
  waited.restart();
  system.reset();
  EXPECT_LT(waited.elapsed(), 2000);
}

// --- on the virtual boards ---------------------------------------------------

class MonitorOnBoard : public ::testing::Test {
 protected:
  void Start(const std::string& boardName) {
    board = sim::Board::Shipped(boardName, time);
    engine::MSupportOptions options;
    options.settingsFile = SettingsFile();
    options.openDriver = [this] { return std::make_unique<driver::InProcessDriverHandle>(*board); };
    options.timing = InstantTiming();
    system = std::make_unique<engine::MSupport>(std::move(options));
    ASSERT_FALSE(system->anotherInstance);
    ASSERT_NE(system->hardwareMonitor, nullptr);
    WindowThreadDispatcher::Instance().Install();
    form = std::make_unique<THwMonitorForm>(*system);
  }
  void TearDown() override {
    form.reset();
    WindowThreadDispatcher::Instance().BeginClosing();
    system.reset();
    platform::SetWindowThreadDispatcher({});
  }
  std::string SettingsFile() const { return QDir(dir.path()).filePath("torvane.ini").toStdString(); }
  void WriteKey(const std::string& section, const std::string& key, const std::string& value) const {
    ASSERT_TRUE(platform::WritePrivateProfileString(section, key, value, SettingsFile()));
  }
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    for (const auto& row : form->Rows()) names.push_back(row.name->text().toStdString());
    return names;
  }

  QTemporaryDir dir;
  sim::RealTimeSource time;
  std::unique_ptr<sim::Board> board;
  std::unique_ptr<engine::MSupport> system;
  std::unique_ptr<THwMonitorForm> form;
};

TEST_F(MonitorOnBoard, EverySensorKeyOffFillsNoRowAndTheDesignTextsStay) {
  for (const char* key : {"TempSensor1", "TempSensor2", "TempSensor3", "Fan1", "Fan2", "Fan3", "VCoreA",
                          "VCoreB", "V33", "V5", "V12", "VN12", "VN5", "VBAT", "5VSB"})
    WriteKey("ZR865", key, "0");
  Start("default");
  ExpectRows(*form, {{"CPU Temp", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""},
                     {"", "", ""}});
}

TEST_F(MonitorOnBoard, ShippedSectionNamesTheRowsAndAChipWithoutVCoreBPutsThreePointThreeNext) {
  Start("via-km400");  // W83697HF: no second core input
  EXPECT_EQ(Names(), (std::vector<std::string>{"System Temp", "CPU Temp", "CPU Fan", "System Fan", "VCore",
                                               "3.3V", "5V", "12V", "-12V", "-5V", "VBAT", "5VSB"}));
  EXPECT_NEAR(form->Rows()[5].value->text().toDouble(), 3.3, 0.1);
}

TEST_F(MonitorOnBoard, InformationPanelNamesTheChipWithItsDescription) {
  Start("default");
  TInfoForm info(*system);
  EXPECT_EQ(info.lblHWMonitor->text(), "W83627HF");
  EXPECT_EQ(info.lblHWMonitor->toolTip().toStdString(), system->hardwareMonitor->GetDescription());
  EXPECT_FALSE(info.lblHWMonitor->toolTip().isEmpty());
}

TEST_F(MonitorOnBoard, SwitchingKeysWhileThePanelIsOutNeitherFillsNorFreesARow) {
  Start("default");
  const std::vector<std::string> names = Names();
  EXPECT_EQ(names, (std::vector<std::string>{"System Temp", "CPU Temp", "CPU Fan", "System Fan", "VCore",
                                             "VDIMM", "3.3V", "5V", "12V", "-12V", "VBAT", "5VSB"}));
  EXPECT_NEAR(form->Rows()[4].value->text().toDouble(), 1.525, 0.05);
  WriteKey("ZR865", "VN5", "1");          // -5 V finds no row
  WriteKey("ZR865", "TempSensor1", "0");  // its row stays, with no value
  HwMonitorThread thread(*system);
  PassOnWorker(thread);
  EXPECT_EQ(Names(), names);
  EXPECT_EQ(form->Rows()[0].value->text(), "--");
  EXPECT_GT(form->Rows()[2].value->text().toDouble(), 1000);           // CPU Fan
  EXPECT_NEAR(form->Rows()[4].value->text().toDouble(), 1.525, 0.05);  // VCore
  EXPECT_NEAR(form->Rows()[9].value->text().toDouble(), -12, 0.6);     // -12V
}

// A sensor name cut to a column: whole words off the front first, so that the rows'
// ends ("in0", "fan2") stay whole.
TEST(SensorNameElision, CutsWholeWordsOffTheFront) {
  QFont font;
  font.setPixelSize(8);
  const QFontMetrics metrics(font);
  const auto room = [&](const char* text) { return metrics.horizontalAdvance(QString::fromUtf8(text)); };
  struct Case {
    const char* name;
    int width;
    const char* shown;
  };
  const Case cases[] = {
      {"nct6775 in0", room("nct6775 in0"), "nct6775 in0"},
      {"nct6775 in0", room("…75 in0"), "…in0"},
      {"Package id 0", room("…ge id 0"), "…id 0"},
      {"nct6775 in0", room("in0"), "in0"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ElideLeadingWords(c.name, metrics, c.width).toStdString(), c.shown) << c.name << " in " << c.width;
  const QString cut = ElideLeadingWords("nct6775fan2", metrics, room("fan2"));
  EXPECT_TRUE(cut.startsWith(QStringLiteral("…")) && metrics.horizontalAdvance(cut) <= room("fan2"))
      << cut.toStdString();
}

}  // namespace
}  // namespace rq::app::test
