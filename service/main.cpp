// kelmsvc: installs or removes itself with a switch, otherwise runs as the
// service "KelmSvr".
#include "service/kelmsvc.h"
#include "service/logic/svcprogram.h"

int main(int argc, char** argv) {
  using kelm::svc::CommandLineAction;
  switch (kelm::svc::ClassifyCommandLine(argc > 1 ? argv[1] : nullptr)) {
    case CommandLineAction::Install:
      kelm::svc::InstallService();
      return 0;
    case CommandLineAction::Remove:
      kelm::svc::RemoveService();
      return 0;
    case CommandLineAction::Nothing:
      return 0;
    case CommandLineAction::RunService:
      break;
  }
  return kelm::svc::ServiceEntry();
}
