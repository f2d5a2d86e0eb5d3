#include "logs/ui/AnalysisView.h"

#include <sys/stat.h>

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <cmath>

#include "logs/ui/LogPlot.h"
#include "platform/TextCodec.h"
#include "platform/qt/QtText.h"

namespace korvane::logs::ui {

namespace {

QString Fixed(double v, int decimals) {
    return LocaleNumber(v, 'f', decimals);
}

bool SameFile(const QString& a, const QString& b) {
    struct stat sa {
    }, sb{};
    if (::stat(a.toLocal8Bit().constData(), &sa) != 0 ||
        ::stat(b.toLocal8Bit().constData(), &sb) != 0)
        return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace

AnalysisView::AnalysisView(LogAnalysis analysis, QString logPath, QString imagePath, Files files,
                           QWidget* parent)
    : QWidget(parent, Qt::Window),
      a_(std::move(analysis)),
      logPath_(std::move(logPath)),
      imagePath_(std::move(imagePath)),
      files_(std::move(files)) {
    setObjectName(QStringLiteral("LogAnalysis"));
    setWindowTitle(QStringLiteral("Анализ лога — %1").arg(QFileInfo(logPath_).fileName()));
    resize(1000, 560);

    selector_ = new QComboBox(this);
    selector_->setObjectName(QStringLiteral("AnalysisView"));
    selector_->addItems({QStringLiteral("Изменение %"), QStringLiteral("Выборки"),
                         QStringLiteral("Поправка"), QStringLiteral("БЦН")});
    auto* save = new QPushButton(QStringLiteral("Сохранить как…"), this);
    save->setObjectName(QStringLiteral("SaveAnalysis"));
    grid_ = new QTableWidget(16, 16, this);
    grid_->setObjectName(QStringLiteral("AnalysisGrid"));
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    QStringList cols, rows;
    for (int c = 0; c < 16; ++c) cols << QString::number(a_.columnLabels[c]);
    for (int r = 0; r < 16; ++r) rows << QString::number(a_.rowLabels[r]);
    grid_->setHorizontalHeaderLabels(cols);
    grid_->setVerticalHeaderLabels(rows);
    summary_ = new QLabel(this);
    summary_->setObjectName(QStringLiteral("AnalysisSummary"));
    summary_->setWordWrap(true);

    int enough = 0, few = 0;
    for (const auto& c : a_.cells) {
        enough += c.enough;
        few += c.samples > 0 && !c.enough;
    }
    QString text = QStringLiteral(
                       "Прошивка «%1». Ячеек с выборками: %2, с недостаточными (меньше %3, "
                       "серые, остаются как были): %4. %5, выборок использовано: %6.")
                       .arg(imagePath_)
                       .arg(enough)
                       .arg(a_.minSamples)
                       .arg(few)
                       .arg(QString::fromStdString(ChangedCellsText(a_)))
                       .arg(a_.samplesUsed);
    if (a_.largestChangeCell >= 0)
        text += QStringLiteral(" Наибольшее изменение поправки: %1 %.")
                    .arg((a_.largestChangePercent > 0 ? QStringLiteral("+") : QString()) +
                         Fixed(a_.largestChangePercent, 1));
    summary_->setText(text);

    saved_ = new QLabel(this);
    saved_->setObjectName(QStringLiteral("AnalysisSaved"));
    auto* bar = new QHBoxLayout;
    bar->addWidget(selector_);
    bar->addStretch(1);
    bar->addWidget(saved_);
    bar->addWidget(save);
    auto* box = new QVBoxLayout(this);
    box->addLayout(bar);
    box->addWidget(grid_, 1);
    box->addWidget(summary_);

    connect(selector_, &QComboBox::currentIndexChanged, this, [this] { Fill(); });
    connect(save, &QPushButton::clicked, this, [this] { SaveAs(); });
    Fill();
}

void AnalysisView::Fill() {
    const int view = selector_->currentIndex();
    for (int c = 0; c < 16; ++c) {
        for (int r = 0; r < 16; ++r) {
            const CellSuggestion& s = a_.cells[tuning::CellIndex(c, r)];
            QString text;
            switch (view) {
                case 0:
                    if (s.enough) text = Fixed(s.ChangePercent(), 1);
                    break;
                case 1:
                    if (s.samples > 0) text = QString::number(s.samples);
                    break;
                case 2:
                    text = Fixed(s.newCorrection, 3);
                    break;
                default:
                    text = Fixed(s.newBcn, 1);
                    break;
            }
            auto* item = new QTableWidgetItem(text);
            item->setTextAlignment(Qt::AlignCenter);
            if (s.samples > 0 && !s.enough) {
                item->setBackground(QColor(215, 215, 215));
                item->setToolTip(QStringLiteral("Мало выборок: %1").arg(s.samples));
            } else if (view == 3 ? s.bcnChanged : s.correctionChanged) {
                const double pct = view == 3 ? (s.oldBcn > 0 ? (s.newBcn / s.oldBcn - 1) * 100 : 0)
                                             : s.ChangePercent();
                const double d = std::min(1.0, std::fabs(pct) / 15);
                item->setBackground(pct >= 0 ? QColor(255, 255 - int(120 * d), 255 - int(160 * d))
                                             : QColor(255 - int(160 * d), 255 - int(100 * d), 255));
            } else if (s.enough) {
                item->setBackground(QColor(200, 245, 200));
            }
            grid_->setItem(r, c, item);
        }
    }
}

std::optional<QString> AnalysisView::SaveTo(const QString& path) {
    if (SameFile(path, imagePath_))
        return QStringLiteral("«%1» — исходная прошивка; новая записывается только в другой файл.")
            .arg(path);
    std::string error;
    if (!platform::WriteFileAtomically(path.toStdString(),
                                       std::string(a_.image.begin(), a_.image.end()), error))
        return QStringLiteral("Не удаётся записать «%1»: %2.")
            .arg(path, QString::fromStdString(error));
    if (files_.log)
        files_.log(QStringLiteral("Прошивка по логу «%1» записана в «%2».").arg(logPath_, path));
    return std::nullopt;
}

bool AnalysisView::SaveAs() {
    QString path = files_.askSave(QStringLiteral("Сохранить как…"),
                                  QStringLiteral("Прошивка|*.bin|Все файлы|*"));
    if (path.isEmpty()) return false;
    path = platform::WithDefaultSuffix(path, QStringLiteral("bin"));
    // The source is refused before any question; another existing file is
    // replaced after one.
    if (SameFile(path, imagePath_)) {
        files_.showError(*SaveTo(path));
        return false;
    }
    if (QFileInfo::exists(path) && files_.confirm &&
        !files_.confirm(QStringLiteral("Файл «%1» уже есть. Заменить его?").arg(path)))
        return false;
    if (auto error = SaveTo(path)) {
        files_.showError(*error);
        return false;
    }
    saved_->setText(QStringLiteral("Записано в «%1»").arg(QFileInfo(path).fileName()));
    saved_->setToolTip(path);
    return true;
}

}  // namespace korvane::logs::ui
