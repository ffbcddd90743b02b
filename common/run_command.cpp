// The one place that includes Boost.Process: its headers are expensive to compile.
#include "run_command.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

// vfork, which Boost.Process offers on POSIX, is declared by glibc whenever the default
// feature set is on (as it is for C++); Boost only assumes it for the older X/Open levels.
#ifndef BOOST_POSIX_HAS_VFORK
#define BOOST_POSIX_HAS_VFORK 1
#endif

#include <boost/asio/buffer.hpp>
#include <boost/asio/error.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/version.hpp>

// Boost 1.86 moved the interface we use into its own namespace and header folder.
#if BOOST_VERSION >= 108600
#include <boost/process/v1/args.hpp>
#include <boost/process/v1/async_pipe.hpp>
#include <boost/process/v1/child.hpp>
#include <boost/process/v1/error.hpp>
#include <boost/process/v1/exe.hpp>
#include <boost/process/v1/extend.hpp>
#include <boost/process/v1/io.hpp>
#include <boost/process/v1/posix.hpp>
#include <boost/process/v1/system.hpp>
namespace bp = boost::process::v1;
#else
#include <boost/process/args.hpp>
#include <boost/process/async_pipe.hpp>
#include <boost/process/child.hpp>
#include <boost/process/error.hpp>
#include <boost/process/exe.hpp>
#include <boost/process/extend.hpp>
#include <boost/process/io.hpp>
#include <boost/process/posix.hpp>
#include <boost/process/system.hpp>
namespace bp = boost::process;
#endif

namespace {

// A pipe holds 64 KiB unless told otherwise: one read can empty it.
constexpr std::size_t kReadSize = std::size_t{64} * 1024;

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

// We ignore SIGPIPE, and an ignored signal stays ignored across exec: the child gets it
// back at its default, as a shell would start it.
struct DefaultSigpipe : bp::extend::handler {
  template <class Executor>
  void on_exec_setup(Executor& /*executor*/) const {
    static_cast<void>(::signal(SIGPIPE, SIG_DFL));
  }
};

// Raises the system's reason when no child process can be created. Left to itself the
// library records the failure and returns an empty child, which says nothing of why.
struct RaiseForkFailure : bp::extend::handler {
  template <class Executor>
  void on_fork_error(Executor&, const std::error_code& error) const {
    throw bp::process_error(error, "fork failed");
  }
};

// Collects everything written to one pipe into the text that the caller gets, until every
// writer has closed the pipe. Each read takes what the pipe holds into a buffer of its own
// and appends it: reading into the text itself would mean growing it ahead of the data,
// and the unused, already touched tail would stay with every report.
class PipeDrain {
 public:
  PipeDrain(bp::async_pipe& pipe, std::string& text)
      : pipe_(pipe), text_(text), buffer_(std::make_unique_for_overwrite<char[]>(kReadSize)) {}

  void start() {
    pipe_.async_read_some(boost::asio::buffer(buffer_.get(), kReadSize),
                          [this](const boost::system::error_code& error, std::size_t got) {
                            text_.append(buffer_.get(), got);
                            if (!error) {
                              start();
                            } else if (error != boost::asio::error::eof) {
                              error_ = std::error_code(error.value(), std::system_category());
                            }
                          });
  }

  // Raises the error of a read that failed other than by reaching the end.
  void check() const {
    if (error_) throw bp::process_error(error_);
  }

 private:
  bp::async_pipe& pipe_;
  std::string& text_;
  std::unique_ptr<char[]> buffer_;  // not cleared first: only what was read is used
  std::error_code error_;
};

// The one place where a capturing run's child is made. vfork: until the child executes the
// program it borrows our memory instead of copying our page tables, which is most of what
// starting a program costs us. Sharing our memory, the child may only make calls that
// touch nothing of it but its own stack, and it makes only these: the library's pipe
// set-up (dup2 and close), DefaultSigpipe's signal (the child has a table of signal
// dispositions of its own), execve, and on a failure _exit. The library records a failure
// in its executor, which is how the parent learns of it: an error code and a step text
// short enough for the string's own storage ("dup2() failed", "execve failed"), so nothing
// is allocated either.
template <class... Redirections>
bp::child startChild(const std::string& executable, const std::vector<std::string>& arguments,
                     Redirections&&... redirections) {
  return bp::child(bp::exe = executable, bp::args = arguments,
                   std::forward<Redirections>(redirections)..., DefaultSigpipe{},
                   bp::posix::use_vfork);
}

ChildRun runCapturing(const std::string& executable, const std::vector<std::string>& arguments,
                      CaptureMode mode) {
  boost::asio::io_context events;
  ChildRun run;
  bp::async_pipe outPipe(events);
  PipeDrain out(outPipe, run.stdoutText);
  std::optional<bp::async_pipe> errPipe;
  std::optional<PipeDrain> err;
  bp::child child;
  if (mode == CaptureMode::Both) {
    errPipe.emplace(events);
    err.emplace(*errPipe, run.stderrText);
    child = startChild(executable, arguments, bp::std_out > outPipe, bp::std_err > *errPipe,
                       RaiseForkFailure{});
    err->start();
  } else {
    child = startChild(executable, arguments, bp::std_out > outPipe);
  }
  out.start();
  // Drains the pipes until every writer (grandchildren included) has closed them.
  events.run();
  child.wait();
  run.exitCode = child.exit_code();
  if (mode == CaptureMode::Both) {
    out.check();
    err->check();
  } else if (run.exitCode == 0) {
    out.check();
  } else {
    // A failed child's output is not a result; it is dropped unread.
    run.stdoutText = std::string();
  }
  return run;
}

}  // namespace

ChildRun runCommand(const std::string& executable, const std::vector<std::string>& arguments,
                    CaptureMode mode) {
  if (mode != CaptureMode::PassThrough) return runCapturing(executable, arguments, mode);
  ChildRun run;
  // The library's system() also sets SIGCHLD to its default in the child.
  run.exitCode = bp::system(bp::exe = executable, bp::args = arguments, CloseStandardInput{},
                            DefaultSigpipe{});
  return run;
}
