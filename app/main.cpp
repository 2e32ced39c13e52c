#include "Application.h"
#include "QtServices.h"
#include "RecordFiles.h"
#include "RuntimeError.h"
#include "Tavola.h"

int main(int argc, char *argv[])
{
    const auto application = runtime::Application::start(argc, argv);
    // The window ends the program itself when closed; a dialogue closing
    // while the window is hidden for a new game must not.
    application->setQuitOnLastWindowClosed(false);

    runtime::QtServices services;
    Tavola tavola(services, records::defaultLocation());
    services.setDialogParent(&tavola);
    try {
        tavola.Show();
    } catch (const runtime::RuntimeError &error) {
        runtime::reportAndEnd(error);
    }
    return application->exec();
}
