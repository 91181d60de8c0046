#include "ui/summary_pane.h"

#include <gtest/gtest.h>

#include <QBarSet>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QImage>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QRegularExpression>
#include <QStackedBarSeries>
#include <QTableView>
#include <QTabWidget>

#include "app/imported_records.h"
#include "call_records.h"
#include "support/form_fixture.h"
#include "ui/form_main_window.h"
#include "ui/imported_records_window.h"

namespace vorlan {
namespace {

using records::Item;
using records::Record;
using records::Times;

void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// Two hourly files: the Summary tab counts the calls of both per hour, draws the maximum on
// the talk times, groups by the chosen type, follows the filter and the maximum, and saves.
TEST_F(FormTest, SummaryTabFollowsTheTableAndSavesItsChartsAndGroups) {
  FormMainWindow window(m_form, m_dialogs);
  const QString first = m_dir.filePath("12071000.log");
  const QString second = m_dir.filePath("12071100.log");
  Write(first, Record("01", Item(1, "201") + Times("20261207100000", "20261207100500")) + "\r\n" +
                   "<BAD>:" + Record("01", Item(1, "202") + Times("20261207103000", "20261207103010")) +
                   "\r\n");
  Write(second, Record("02", Item(1, "201") + Item(4, "T1") + Times("20261207120000", "20261207120030")) +
                    "\r\n");
  m_form.TxtMaxTime.SetText("100");
  RunFileCommand([&] { m_form.ImportFiles({second, first}); });
  ImportedRecordsWindow* imported = window.importedWindow();
  ASSERT_NE(imported, nullptr);
  imported->pages()->setCurrentIndex(1);
  SummaryPane* pane = imported->summaryPane();
  EXPECT_EQ(pane->totals()->text(),
            "3 calls, 2 flagged, total talk 00:05:40; first call 2026-12-07 10:00:00, last call "
            "2026-12-07 12:00:00.");

  // Hours 10, 11 (no calls) and 12; the flagged calls stacked on the others.
  const auto bars = [&] {
    auto* series = qobject_cast<QStackedBarSeries*>(pane->callsChart()->series().value(0));
    std::vector<std::vector<double>> sets;
    for (QBarSet* set : series->barSets()) {
      sets.emplace_back();
      for (int i = 0; i < set->count(); ++i) sets.back().push_back(set->at(i));
    }
    return sets;
  };
  EXPECT_EQ(bars(), (std::vector<std::vector<double>>{{0, 0, 1}, {2, 0, 0}}));
  const auto maximumLine = [&] {
    for (QAbstractSeries* series : pane->talkChart()->series()) {
      if (auto* line = qobject_cast<QLineSeries*>(series)) return line->name();
    }
    return QString();
  };
  EXPECT_EQ(maximumLine(), "Maximum 100 s");

  // Grouped by type 1, the most calls first; then by type 4, present in one record only.
  QAbstractItemModel* groups = pane->groups()->model();
  ASSERT_EQ(pane->groupType()->count(), 3);  // types 1, 4, 6
  ASSERT_EQ(groups->rowCount(), 2);
  EXPECT_EQ(groups->index(0, 0).data().toString(), "201");
  EXPECT_EQ(groups->index(0, 1).data().toString(), "2");
  EXPECT_EQ(groups->index(0, 3).data().toString(), "00:05:30");
  pane->groupType()->setCurrentIndex(1);
  emit pane->groupType()->activated(1);
  ASSERT_EQ(groups->rowCount(), 2);
  EXPECT_EQ(groups->headerData(0, Qt::Horizontal).toString(), "Type 4");
  EXPECT_EQ(groups->index(0, 0).data().toString(), "(none)") << "two calls without the item";

  m_dialogs.nextSave = m_dir.filePath("groups.csv");
  pane->exportGroups()->click();
  QFile csv(m_dialogs.nextSave);
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_EQ(csv.readAll(),
            "value,calls,flagged,total_talk_seconds,longest_talk_seconds\r\n"
            "T1,1,0,30,30\r\n,2,2,310,300\r\n");
  m_dialogs.nextSave = m_dir.filePath("calls.png");
  pane->saveCallsChart()->click();
  EXPECT_EQ(QImage(m_dialogs.nextSave).size(), QSize(1600, 900)) << "a PNG, labels whole";
  m_dialogs.nextSave = first;
  pane->saveCallsChart()->click();
  ASSERT_EQ(m_dialogs.boxes.size(), 1u) << "never over an imported file";
  EXPECT_TRUE(QImage(first).isNull());

  // The filter and the maximum.
  imported->flaggedOnly()->click();
  EXPECT_TRUE(pane->totals()->text().startsWith("2 calls, 2 flagged")) << pane->totals()->text().toStdString();
  m_form.TxtMaxTime.SetText("5");
  EXPECT_TRUE(pane->totals()->text().startsWith("3 calls, 3 flagged")) << pane->totals()->text().toStdString();
  EXPECT_EQ(maximumLine(), "Maximum 5 s");
}

// A day, a call in every hour, 10 to 14 minutes long. At the window's size every n-th hour is
// labelled (label i reads i * 24 / labels), wide all 24; talk time in minutes; nothing is cut.
TEST_F(FormTest, SummaryChartsLabelTheirBarsReadably) {
  FormMainWindow window(m_form, m_dialogs);
  QByteArray day;
  for (int hour = 0; hour < 24; ++hour) {
    const QByteArray at = "20261207" + QByteArray::number(hour).rightJustified(2, '0');
    day += Record("01", Times(at + "0000", at + QByteArray::number(10 + hour % 5) + "00")) + "\r\n";
  }
  Write(m_dir.filePath("12070000.log"), day);
  RunFileCommand([&] { m_form.ImportFiles({m_dir.filePath("12070000.log")}); });
  ImportedRecordsWindow* imported = window.importedWindow();
  ASSERT_NE(imported, nullptr);
  imported->pages()->setCurrentIndex(1);
  const auto drawn = [](QChart* chart) {  // labels ("..." where cut), titles, legend; sorted
    QStringList shown;
    for (QGraphicsItem* item : chart->scene()->items()) {
      const auto* text = qgraphicsitem_cast<QGraphicsTextItem*>(item);
      if (text && text->isVisible()) shown << text->toPlainText();
    }
    shown.sort();
    return shown;
  };
  for (const int width : {1000, 2400}) {
    imported->resize(width, 700);
    QCoreApplication::processEvents();
    const QStringList calls = drawn(imported->summaryPane()->callsChart()),
                      talk = drawn(imported->summaryPane()->talkChart());
    EXPECT_TRUE((calls + talk).filter("...").isEmpty()) << (calls + talk).join('|').toStdString();
    const QStringList hours = calls.filter(QRegularExpression("^\\d\\d$"));
    EXPECT_EQ(hours.size() < 24, width == 1000) << "fewer labels where the bars are narrow";
    for (qsizetype i = 0; i < hours.size(); ++i) EXPECT_EQ(hours[i].toInt() * hours.size(), 24 * i);
    EXPECT_TRUE(talk.contains("Talk time in minutes, bars of 1 min") && talk.contains("14"));
    EXPECT_EQ(calls.filter(QRegularExpression("^\\d$")), (QStringList{"0", "1"})) << "whole calls";
  }
}

}  // namespace
}  // namespace vorlan
