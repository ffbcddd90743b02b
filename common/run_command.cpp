// The one place that includes Boost.Process: its headers are expensive to compile.
#include "run_command.h"

#include <unistd.h>

#include <cerrno>
#include <future>
#include <system_error>

#include <boost/asio/io_context.hpp>
#include <boost/version.hpp>

// Boost 1.86 moved the interface we use into its own namespace and header folder.
#if BOOST_VERSION >= 108600
#include <boost/process/v1/args.hpp>
#include <boost/process/v1/async.hpp>
#include <boost/process/v1/child.hpp>
#include <boost/process/v1/error.hpp>
#include <boost/process/v1/exe.hpp>
#include <boost/process/v1/extend.hpp>
#include <boost/process/v1/io.hpp>
#include <boost/process/v1/system.hpp>
namespace bp = boost::process::v1;
#else
#include <boost/process/args.hpp>
#include <boost/process/async.hpp>
#include <boost/process/child.hpp>
#include <boost/process/error.hpp>
#include <boost/process/exe.hpp>
#include <boost/process/extend.hpp>
#include <boost/process/io.hpp>
#include <boost/process/system.hpp>
namespace bp = boost::process;
#endif

namespace {

// Closes standard input in the child. Unlike the library's own directive, an already
// closed descriptor 0 (we were started without one) is not an error: the program then
// starts without standard input, which is what was asked for.
struct CloseStandardInput : bp::extend::handler {
  template <class Executor>
  void on_exec_setup(Executor& executor) const {
    if (::close(STDIN_FILENO) == -1 && errno != EBADF) {
      executor.set_error(std::error_code(errno, std::system_category()), "close() failed");
    }
  }
};

// Raises the system's reason when no child process can be created. Left to itself the
// library records the failure and returns an empty child, whose collected output then
// surfaces only as a broken promise.
struct RaiseForkFailure : bp::extend::handler {
  template <class Executor>
  void on_fork_error(Executor&, const std::error_code& error) const {
    throw bp::process_error(error, "fork failed");
  }
};

ChildRun runCapturing(const std::string& executable, const std::vector<std::string>& arguments,
                      CaptureMode mode) {
  boost::asio::io_context events;
  std::future<std::string> out;
  std::future<std::string> err;
  ChildRun run;
  if (mode == CaptureMode::Both) {
    bp::child child(bp::exe = executable, bp::args = arguments, bp::std_out > out,
                    bp::std_err > err, events, RaiseForkFailure{});
    // Drains both pipes until every writer (grandchildren included) has closed them.
    events.run();
    child.wait();
    run.exitCode = child.exit_code();
    run.stdoutText = out.get();
    run.stderrText = err.get();
  } else {
    bp::child child(bp::exe = executable, bp::args = arguments, bp::std_out > out, events);
    events.run();
    child.wait();
    run.exitCode = child.exit_code();
    // A failed child's output is not a result; it is dropped unread.
    if (run.exitCode == 0) run.stdoutText = out.get();
  }
  return run;
}

}  // namespace

ChildRun runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                    CaptureMode mode) {
  if (mode != CaptureMode::PassThrough) return runCapturing(executable, arguments, mode);
  ChildRun run;
  run.exitCode = bp::system(bp::exe = executable, bp::args = arguments, CloseStandardInput{});
  return run;
}
