#pragma once

#include "app/MainWindow.h"
#include "support/Controls.h"
#include "support/Fakes.h"
#include "support/ProgramFolder.h"

#include <memory>

namespace sondrel::test {

// A main window on fakes of every platform interface, in a fresh program folder of its own.
class AppFixture {
protected:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<FakeSystem> m_fakes;
    std::unique_ptr<app::MainWindow> m_window;

    // A new folder and new fakes; false when the folder could not be made.
    bool renewFixture()
    {
        m_window.reset();
        m_dir = newProgramFolder();
        m_fakes = std::make_unique<FakeSystem>();
        return m_dir->isValid();
    }
    app::MainWindow& openWindow()
    {
        m_window = std::make_unique<app::MainWindow>(m_fakes->services(), m_dir->path());
        return *m_window;
    }
};

} // namespace sondrel::test
