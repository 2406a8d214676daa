#include "extraction_progress.h"
#include "log.h"
#include "setup_ui.h"
#include "support_windows.h"
#include "ui_strings.h"

#include <gtest/gtest.h>

#include <thread>

using namespace krv::setup;

TEST(ExtractionProgressModel, BarCountsInKibOnlyAboveThirtyOneBits) {
    struct Case {
        uint64_t total;
        uint64_t divisor;
        uint32_t range;
    };
    // The divisor, once 1024, stays so for the object.
    const Case cases[] = {{1000, 1, 1000},
                          {0x7FFFFFFF, 1, 0x7FFFFFFF},
                          {5000000000ull, 1024, 4882812},
                          {1000, 1024, 0}};
    ExtractionProgressModel model;
    for (const Case &c : cases) {
        model.SetTotal(c.total);
        EXPECT_EQ(model.Divisor(), c.divisor) << c.total;
        EXPECT_EQ(model.Range(), c.range) << c.total;
    }
}

TEST(ExtractionProgressModel, PositionSumsFinishedFilesAndEndsAtTheRange) {
    ExtractionProgressModel model;
    model.SetTotal(300);
    model.BeginFile(100);
    EXPECT_EQ(model.Progress(40), 40u);
    model.BeginFile(200); // the first file counts whole from now on
    EXPECT_EQ(model.Progress(150), 250u);
    EXPECT_EQ(model.Progress(200), std::nullopt);
    // A total of 0 ends at the first progress call.
    model.SetTotal(0);
    EXPECT_EQ(model.Progress(0), std::nullopt);
}

TEST(ExtractionProgressModel, TextsForFilesFixedTextAndSteps) {
    ExtractionProgressModel model;
    EXPECT_EQ(model.CurrentFileTexts(std::nullopt), std::nullopt);
    auto all = model.CurrentFileTexts("");
    ASSERT_TRUE(all);
    EXPECT_EQ(all->line, "Извлечение файлов из архива...");
    EXPECT_EQ(model.CurrentFileTexts("/tmp/a.msi")->line, "Извлечение файла в /tmp/a.msi");
    model.SetFixedText("Java");
    auto fixed = model.CurrentFileTexts("/tmp/a.msi");
    EXPECT_EQ(fixed->line, "Java");
    EXPECT_EQ(fixed->tooltip, "");
    EXPECT_EQ(ExtractionProgressModel::StepTexts("\\\\?\\C:\\x.jar").line,
              "Извлечение файла:C:\\x.jar");
}

TEST(SilentExtractionProgress, ReadyEventThenEndsAtTotalOrClose) {
    for (bool closeEarly : {false, true}) {
        SilentExtractionProgress progress{test::QuietMessages()};
        ExtractionDialogParts parts = progress.Parts();
        AutoResetEvent ready;
        parts.extraction->SetReadyEvent(&ready);
        parts.extraction->SetTotal(10);
        std::thread worker([&] {
            ready.Wait();
            parts.extraction->BeginFile(10);
            if (closeEarly)
                parts.extraction->Close();
            else
                parts.extraction->Progress(10);
        });
        const int result = parts.extraction->ShowModal();
        worker.join();
        EXPECT_EQ(result, closeEarly ? dialog_result::kCancelled : dialog_result::kFinished);
    }
}

TEST(SilentExtractionProgress, StepsEndAtTheCountAndCancelIsSeen) {
    SilentExtractionProgress progress{test::QuietMessages()};
    StepProgressSink *steps = progress.Parts().steps;
    AutoResetEvent ready;
    steps->SetReadyEvent(&ready);
    std::thread worker([&] {
        ready.Wait();
        steps->BeginSteps(3);
        for (int i = 0; i < 3; ++i)
            steps->Step();
    });
    EXPECT_EQ(steps->ShowModal(), dialog_result::kFinished);
    worker.join();
    EXPECT_FALSE(steps->IsCancelled());
    progress.Cancel();
    EXPECT_TRUE(progress.Parts().extraction->Progress(1));
}

TEST(SetupUi, ExtractionWindowAsksForDiskSpaceThroughTheRunsMessages) {
    auto boxes = std::make_shared<ScriptedMessageBoxes>();
    SetupUi ui(nullptr, SetupMessages(boxes));
    UiVisible = true;
    // Nobody answers Retry: the question cancels after one box.
    EXPECT_FALSE(ui.GetExtractionProgressDialog().diskSpace->AskRetry("/data/target", 1));
    ui.ReleaseExtractionProgressDialog();
    ASSERT_EQ(boxes->Shown().size(), 1u);
    EXPECT_EQ(boxes->Shown()[0].text,
              FormatUiString(ui_text::kNoSpaceInFolder, std::string("/data/target")));
}

TEST(SetupUi, StatusTextOnlyWhileVisibleAndCaptionFromProductName) {
    SetupUi ui(nullptr, test::QuietMessages());
    UiVisible = false;
    ui.ShowStatusText(220);
    EXPECT_FALSE(ui.StatusShown());
    UiVisible = true;
    ui.ShowStatusText(220);
    EXPECT_TRUE(ui.StatusShown());
    EXPECT_EQ(ui.StatusText(), "Подготовка...");
    ui.HideStatusWindow();
    EXPECT_FALSE(ui.StatusShown());
    // A file without version strings gives its name.
    ui.SetProductName("/nonexistent/TelmarSetup2.3");
    EXPECT_EQ(ui.GetSetupCaption(), "Установка TelmarSetup2.3");
}
