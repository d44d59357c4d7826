// Every text fits the place it is drawn in, in all five languages, measured with the fonts the
// program draws with: the panel's labels and values their rectangles, the closing notice its
// rectangle, and every dialog control's text its control.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHash>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTableView>
#include <QTextLayout>
#include <QtMath>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/CAboutDlg.h"
#include "app/CQuorvantisView.h"
#include "app/CloseDialo.h"
#include "app/Language.h"
#include "app/selectLanguage.h"
#include "device/CDeviceState.h"
#include "history/DeleteHistory.h"
#include "history/Grapsh.h"
#include "history/Main.h"
#include "resources/resource.h"
#include "settings/CSetupParam.h"
#include "settings/CUpload.h"
#include "ui/DialogTestSupport.h"
#include "ui/GdiText.h"

namespace {

// Where the ink of a laid-out text (or of its row `only`) lies: drawn unclipped on a transparent
// picture, the pixels at least a quarter covered. An empty rectangle for a text without ink.
QRect InkOf(const QTextLayout& layout, const QPointF& at = QPointF(), int only = -1)
{
    // The lines' natural extent, not the layout's bounding rectangle: an unwrapped line is laid out
    // 100000 pixels wide, and a picture that wide made this the slowest step of the suite.
    QRectF bounds;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        if (only < 0 || i == only) bounds |= QRectF(line.x(), line.y(), line.naturalTextWidth(), line.height());
    }
    bounds.translate(at);
    const QRect area = bounds.toAlignedRect().adjusted(-8, -8, 8, 8);
    QImage image(area.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::black);
    if (only < 0)
        layout.draw(&painter, at - QPointF(area.topLeft()));
    else
        layout.lineAt(only).draw(&painter, at - QPointF(area.topLeft()));
    painter.end();
    int left = image.width(), right = -1, top = image.height(), bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(row[x]) >= 64) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom)).translated(area.topLeft());
}

std::string Describe(const QString& where, const QString& text, const QRect& ink, const QRect& room)
{
    return QStringLiteral("%1 \"%2\": ink %3,%4 %5x%6 outside %7,%8 %9x%10")
        .arg(where, text)
        .arg(ink.x())
        .arg(ink.y())
        .arg(ink.width())
        .arg(ink.height())
        .arg(room.x())
        .arg(room.y())
        .arg(room.width())
        .arg(room.height())
        .toStdString();
}

// ---------------------------------------------------------------------------------------------
// The panel

// Segmented mode with all four periods set: every period place shows a date and a time.
ConfigSnapshot AllPeriods()
{
    ConfigSnapshot config = theDeviceState.GetConfigSnapshot();
    config.mode = 2;
    for (int i = 0; i < 8; ++i) config.period[i] = OleDateTime(2026, 12, 28, 23, 58, 0);
    for (int& on : config.periodOn) on = 1;
    return config;
}

class PanelTextsFit : public ::testing::TestWithParam<int> {};

TEST_P(PanelTextsFit, LabelsAndValuesStayInTheirRectangles)
{
    const int language = GetParam();
    ASSERT_TRUE(LoadTestLanguage(language));
    CQuorvantisView view;
    view.LoadTexts();

    ConfigSnapshot noPeriods = AllPeriods();
    noPeriods.mode = 1;  // dashes in every period place
    for (const DisplayStrings& strings : PanelStates(view))
        for (const ConfigSnapshot& config : {AllPeriods(), noPeriods}) {
            const std::vector<PanelText> texts = view.LayoutPanel(strings, language, config);
            ASSERT_EQ(texts.size(), 48u);
            std::vector<qreal> baselines;
            std::vector<QRect> inks;
            for (std::size_t i = 0; i < texts.size(); ++i) {
                const PanelText& t = texts[i];
                QTextLayout layout;
                LayoutGdiText(layout, t.text, t.rect, view.PanelFont(t.title), t.wordBreak);
                baselines.push_back(layout.lineCount() > 0 ? layout.lineAt(0).y() + layout.lineAt(0).ascent() : 0.0);
                if (t.wordBreak) {
                    inks.push_back(QRect());
                    continue;  // the status block: StatusBlockFits below
                }
                const QRect ink = InkOf(layout);
                inks.push_back(ink);
                EXPECT_TRUE(ink.isNull() || t.rect.contains(ink))
                    << Describe(QStringLiteral("panel text %1").arg(i + 1), t.text, ink, t.rect);
                // The headings stand on a baseline above the line under their header strip (the
                // descenders of Latin letters may cross it, as designed).
                const int strip = i == 0 ? 30 : (i == 11 || i == 20 || i == 41) ? 234 : 0;
                if (strip) {
                    EXPECT_LT(baselines.back(), strip - 1) << t.text.toStdString();
                }
            }
            // A label and its value share one baseline, whichever font draws their characters, and
            // stand at least a blank's width apart, so that a label never reads as part of its value
            // ("Début:----/--/--"): the device block's rows and the "Start:" and "End:" rows of the
            // periods.
            const int gap = qCeil(QFontMetricsF(view.PanelFont(false)).horizontalAdvance(QLatin1Char(' ')));
            const std::pair<int, int> rows[] = {{1, 6},   {2, 7},   {3, 8},   {4, 9},   {5, 10},  {22, 33}, {23, 34},
                                                {25, 35}, {26, 36}, {28, 37}, {29, 38}, {31, 39}, {32, 40}};
            for (const auto& [label, value] : rows) {
                EXPECT_DOUBLE_EQ(baselines[label], baselines[value]) << texts[label].text.toStdString();
                if (!inks[label].isNull() && !inks[value].isNull()) {
                    EXPECT_GE(inks[value].left() - inks[label].right() - 1, gap)
                        << texts[label].text.toStdString() << " runs into " << texts[value].text.toStdString();
                }
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Languages, PanelTextsFit, ::testing::Range(0, 5));

// The status block as the worker threads fill it: line 0 the configuration read, line 1 the clock,
// line 2 the download, each blank or showing any of its texts, line 3 blank. In every language and
// every combination each row that shows text lies whole inside the block's rectangle, which clips
// it. Our own translations take one row each; only English, the program's own, wraps.
TEST(StatusBlockFits, EveryLineInEveryLanguageAndState)
{
    const int lineTexts[3][3] = {{IDS_READING_CONFIG, IDS_READ_CONFIG_FAILED, IDS_READ_CONFIG_SUCCESS},
                                 {IDS_SYNCRONIZING, IDS_SYNC_SUCCESS, IDS_SYNC_FAILED},
                                 {IDS_PROCESSING_RECORDS, IDS_HISTORY_COMPLETE, IDS_PROCESSING_FAILED}};
    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        SCOPED_TRACE(kLanguageCodes[language]);
        CQuorvantisView view;
        view.LoadTexts();
        const QFont& font = view.PanelFont(false);
        std::array<std::vector<QString>, 3> choices;
        for (int line = 0; line < 3; ++line) {
            choices[line].push_back(QString::fromLatin1(kBlankStatus));
            for (int id : lineTexts[line]) choices[line].push_back(QString::fromStdString(LoadString(id)));
        }

        // The block as the panel lays it out for these four lines.
        auto statusBlock = [&](const QString& line0, const QString& line1, const QString& line2) {
            DisplayStrings strings;
            strings.status = {line0, line1, line2, QString::fromLatin1(kBlankStatus)};
            for (const PanelText& t : view.LayoutPanel(strings, language, ConfigSnapshot{}))
                if (t.wordBreak) return t;
            return PanelText{};
        };

        int misfits = 0;
        QHash<QString, QRect> inks;
        for (const QString& line0 : choices[0])
            for (const QString& line1 : choices[1])
                for (const QString& line2 : choices[2]) {
                    const PanelText status = statusBlock(line0, line1, line2);
                    const QRect& room = status.rect;
                    ASSERT_FALSE(room.isEmpty());
                    QTextLayout layout;
                    LayoutGdiText(layout, status.text, room, font, true);
                    for (int i = 0; i < layout.lineCount(); ++i) {
                        const QTextLine row = layout.lineAt(i);
                        const QString shown = layout.text().mid(row.textStart(), row.textLength());
                        // The same row at the same place has the same ink: measured once.
                        const QString key = QString::number(row.y()) + QLatin1Char('|') + shown;
                        if (!inks.contains(key)) inks.insert(key, InkOf(layout, QPointF(), i));
                        const QRect ink = inks.value(key);
                        if (!ink.isNull() && !room.contains(ink) && ++misfits <= 5)
                            ADD_FAILURE() << Describe(QStringLiteral("row %1 of the block").arg(i), shown, ink, room);
                    }
                }
        EXPECT_EQ(misfits, 0);

        if (language == 0) continue;
        const QRect room = statusBlock({}, {}, {}).rect;
        for (const auto& line : lineTexts)
            for (int id : line) {
                const QString text = QString::fromStdString(LoadString(id));
                QTextLayout layout;
                LayoutGdiText(layout, text, room, font, true);
                EXPECT_EQ(layout.lineCount(), 1) << id << " \"" << text.toStdString() << "\" wraps";
            }
    }
}

TEST(ClosingNoticeTextFits, InEveryLanguage)
{
    CloseDialo notice;
    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        const QString text = QString::fromStdString(LoadString(IDS_PROGRAM_CLOSING));
        QTextLayout layout;
        LayoutGdiText(layout, text, CloseDialo::TextRect(), CloseDialo::TextFont(), false);
        const QRect ink = InkOf(layout);
        EXPECT_TRUE(CloseDialo::TextRect().contains(ink))
            << Describe(QLatin1String(kLanguageCodes[language]), text, ink, CloseDialo::TextRect());
        // The title font has the 30-pixel cell the design asks for, not a 30-pixel em.
        EXPECT_LE(QFontMetricsF(CloseDialo::TextFont()).height(), 30.0);
        EXPECT_GT(QFontMetricsF(CloseDialo::TextFont()).height(), 28.0);
    }
}

// ---------------------------------------------------------------------------------------------
// The dialogs

// One text a control shows, and the room the control's style gives it.
struct Shown {
    QString where, text;
    QRect room;  // in the control's coordinates
    Qt::Alignment align;
    bool wrap = false;
};

// Where a group box's style puts its frame or its title, in the box's coordinates.
QRect GroupBoxPart(const QGroupBox* g, QStyle::SubControl part)
{
    QStyleOptionGroupBox option;
    option.initFrom(g);
    option.text = g->title();
    option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    option.textAlignment = g->alignment();
    return g->style()->subControlRect(QStyle::CC_GroupBox, &option, part, g);
}

std::vector<Shown> ShownTexts(QWidget* w)
{
    std::vector<Shown> out;
    const QString name = w->objectName();
    QStyle* style = w->style();
    auto add = [&](const QString& text, const QRect& room, Qt::Alignment align, bool wrap = false) {
        if (!text.trimmed().isEmpty()) out.push_back(Shown{name, text, room, align, wrap});
    };
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(b);
        option.text = b->text();
        const bool push = qobject_cast<QPushButton*>(w) != nullptr;
        const QStyle::SubElement contents = push                          ? QStyle::SE_PushButtonContents
                                            : qobject_cast<QCheckBox*>(w) ? QStyle::SE_CheckBoxContents
                                                                          : QStyle::SE_RadioButtonContents;
        add(b->text(), style->subElementRect(contents, &option, b),
            push ? Qt::Alignment(Qt::AlignCenter) : Qt::AlignLeft | Qt::AlignVCenter);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        const int m = l->margin();
        add(l->text(), l->contentsRect().adjusted(m, m, -m, -m), l->alignment(), l->wordWrap());
    } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
        const QRect frame = GroupBoxPart(g, QStyle::SC_GroupBoxFrame);
        const QRect label = GroupBoxPart(g, QStyle::SC_GroupBoxLabel);
        // The title may run along the frame's top edge, up to its right edge.
        add(g->title(), QRect(label.left(), label.top(), frame.right() - label.left(), label.height()),
            Qt::AlignLeft | Qt::AlignVCenter);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        option.frame = combo->hasFrame();
        const QRect field = style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
        for (int i = 0; i < combo->count(); ++i)  // every entry shows in the closed box once chosen
            add(combo->itemText(i), field, Qt::AlignLeft | Qt::AlignVCenter);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit) : 0;
        const QRect contents =
            style->subElementRect(QStyle::SE_LineEditContents, &option, edit).marginsRemoved(edit->textMargins());
        if (edit->echoMode() == QLineEdit::Normal)
            add(edit->text(), contents.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter);
    } else if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
        QStyleOptionSpinBox option;
        option.initFrom(spin);
        option.frame = spin->hasFrame();
        option.subControls =
            QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
        option.buttonSymbols = spin->buttonSymbols();
        const QRect field = style->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxEditField, spin);
        add(spin->text(), field.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter);
    } else if (auto* table = qobject_cast<QTableView*>(w)) {
        QHeaderView* header = table->horizontalHeader();
        const int margin = header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int c = 0; c < header->count(); ++c) {
            const QString caption = table->model()->headerData(c, Qt::Horizontal).toString();
            const QRect section(header->sectionViewportPosition(c) + margin, 0, header->sectionSize(c) - 2 * margin,
                                header->height());
            if (!caption.isEmpty())
                out.push_back(Shown{name + QStringLiteral(" column"), caption, section, Qt::AlignCenter, false});
        }
    }
    return out;
}

// Lays a control's text out in its font and places it in its room as the control aligns it.
QRect PlacedInk(const Shown& s, const QFont& font, QTextLayout& layout)
{
    QString text = s.text;
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    layout.setText(text);
    layout.setFont(font);
    QTextOption option(Qt::AlignLeft);  // placed below as the control aligns it
    option.setWrapMode(s.wrap ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);
    qreal y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(s.wrap ? s.room.width() : 100000);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
    qreal natural = 0;
    for (int i = 0; i < layout.lineCount(); ++i) natural = std::max(natural, layout.lineAt(i).naturalTextWidth());
    qreal x = s.room.left();
    if (s.align & Qt::AlignHCenter)
        x += (s.room.width() - natural) / 2;
    else if (s.align & Qt::AlignRight)
        x += s.room.width() - natural;
    qreal top = s.room.top();
    if (s.align & Qt::AlignVCenter)
        top += (s.room.height() - y) / 2;
    else if (s.align & Qt::AlignBottom)
        top += s.room.height() - y;
    return InkOf(layout, QPointF(x, top));
}

// Every control's text against its room; the misfits described.
std::vector<std::string> Misfits(QWidget* dialog)
{
    std::vector<std::string> misfits;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!w->objectName().startsWith(QLatin1String("IDC_"))) continue;
        for (const Shown& s : ShownTexts(w)) {
            QTextLayout layout;
            const QRect ink = PlacedInk(s, w->font(), layout);
            // Natural widths count the advance of the last character too.
            qreal natural = 0;
            for (int i = 0; i < layout.lineCount(); ++i)
                natural = std::max(natural, layout.lineAt(i).naturalTextWidth());
            if (!ink.isNull() && (!s.room.contains(ink) || natural > s.room.width() + 0.5))
                misfits.push_back(Describe(s.where, s.text, ink, s.room));
        }
    }
    // A group box inside another: the outer one, drawn alone, leaves the inner one's title clear
    // (its frame line does not run through it).
    const QList<QGroupBox*> boxes = dialog->findChildren<QGroupBox*>();
    for (QGroupBox* outer : boxes) {
        QImage drawn;
        for (QGroupBox* inner : boxes) {
            if (inner == outer || inner->title().isEmpty() || inner->parentWidget() != outer->parentWidget() ||
                !outer->geometry().contains(inner->geometry()))
                continue;
            if (drawn.isNull()) drawn = outer->grab().toImage();
            const QRect title = GroupBoxPart(inner, QStyle::SC_GroupBoxLabel).translated(inner->pos() - outer->pos());
            bool clear = true;
            for (int y = title.top(); y <= title.bottom() && clear; ++y)
                for (int x = title.left(); x <= title.right() && clear; ++x)
                    clear = drawn.pixel(x, y) == drawn.pixel(title.topLeft());
            if (!clear)
                misfits.push_back(QStringLiteral("%1 runs through the title \"%2\" of %3")
                                      .arg(outer->objectName(), inner->title(), inner->objectName())
                                      .toStdString());
        }
    }
    return misfits;
}

class DialogTextsFit : public DialogTest {};

// The dialogs as they can show themselves: the settings dialog in full size with every hint, the
// management dialog with a recorder, the About dialog with the shipped link.
TEST_F(DialogTextsFit, EveryControlInEveryLanguage)
{
    auto recorder = Connect();
    recorder->SetMode(2);  // the settings dialog at its full size
    AddDevice("00123456");
    CDeviceState& ds = theDeviceState;
    ds.m_nTempRaw = 100;  // -30.0 °C, the widest reading
    ds.m_nHumiRaw = 45;
    ds.m_nScreenWidth = 1920;
    ds.m_nScreenHeight = 1080;

    for (int language = 0; language < 5; ++language) {
        ASSERT_TRUE(LoadTestLanguage(language));
        SCOPED_TRACE(kLanguageCodes[language]);
        std::vector<std::pair<std::string, std::function<std::vector<std::string>()>>> checks;

        checks.emplace_back("history", [&] {
            Main dlg;
            dlg.show();
            return Misfits(&dlg);
        });
        checks.emplace_back("graph", [&] {
            Grapsh dlg;
            dlg.show();
            return Misfits(&dlg);
        });
        checks.emplace_back("management", [&] {
            DeleteHistory dlg;
            dlg.show();
            return Misfits(&dlg);
        });
        checks.emplace_back("about", [&] {
            CAboutDlg dlg(theDeviceState.m_strIniPath);
            dlg.show();
            return Misfits(&dlg);
        });
        checks.emplace_back("language", [&] {
            selectLanguage dlg(theDeviceState.m_strIniPath);
            dlg.show();
            return Misfits(&dlg);
        });
        checks.emplace_back("upload", [&] {
            CUpload dlg(m_dir.Path(), nullptr);
            dlg.show();
            return Misfits(&dlg);
        });
        checks.emplace_back("settings", [&] {
            std::vector<std::string> all;
            CSetupParam dlg;
            dlg.show();
            auto focus = [&dlg](const char* name) {
                QFocusEvent in(QEvent::FocusIn);
                QApplication::sendEvent(dlg.findChild<QWidget*>(QLatin1String(name)), &in);
            };
            auto* unit = dlg.findChild<QComboBox*>(QStringLiteral("IDC_SETUP_UNIT"));
            for (int index : {0, 1}) {  // the temperature hint in both units
                unit->setCurrentIndex(index);
                focus("IDC_SETUP_TEMP_OFFSET");
                focus("IDC_SETUP_INTERVAL");
                for (const std::string& m : Misfits(&dlg)) all.push_back(m);
            }
            focus("IDC_SETUP_HUMI_OFFSET");
            dlg.findChild<QRadioButton*>(QStringLiteral("IDC_SETUP_SECOND"))->click();
            for (const std::string& m : Misfits(&dlg)) all.push_back(m);
            return all;
        });

        for (const auto& [dialog, check] : checks) {
            for (const std::string& misfit : check()) ADD_FAILURE() << dialog << ": " << misfit;
        }
    }
}

}  // namespace
