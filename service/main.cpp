// vlTRPrintQ: registers or removes its service entry, runs in the
// foreground in trace mode, or hands itself to the Service Control Manager.
#include "outside/vlTRLog.h"
#include "platform/allocator.h"
#include "platform/scm/scm.h"
#include "service/host/service_host.h"
#include "service/service.h"

#include <cstdio>
#include <strings.h>
#include <unistd.h>

using namespace vltr::service;

// Threads given up at shutdown may still run; leaving through exit() would
// destroy objects under them, so such a process ends without destructors.
static int finish(int code) {
  std::fflush(stdout);
  std::fflush(stderr);
  if (host().abandonedThreads.load() > 0)
    _exit(code);
  return code;
}

int main(int argc, char **argv) {
  vltr::UseFewAllocatorArenas();
  vlLog_SetProgramName("vlTRPrintQ");
  if (argc >= 2) {
    std::string first = argv[1];
    if (strcasecmp(first.c_str(), "/register") == 0)
      return finish(RegisterService());
    if (strcasecmp(first.c_str(), "/unregister") == 0)
      return finish(UnregisterService());
    if (ParseTraceOption(first)) {
      host().traceMode = true;
      return finish(StartTraceMode(argc, argv));
    }
    vlLog_WriteEvent(1, "vlTRSvc", "main", "ss",
                     "The Trelli Monitor was started with an unrecognised parameter - ", first);
    return finish(1);
  }

  int result = vltr::scm::StartServiceCtrlDispatcher(kServiceName, ServiceStart);
  if (result != vltr::scm::SCM_OK) {
    vlLog_WriteEvent(1, "vlTRSvc", "main", "sl",
                     "Call to StartServiceCtrlDispatcher failed. Error: ", result);
    std::fprintf(stderr,
                 "vlTRPrintQ: not started by the Service Control Manager (error %d); run "
                 "\"vlTRPrintQ /TRACE\" to run in the foreground\n",
                 result);
    return finish(1);
  }
  return finish(0);
}
