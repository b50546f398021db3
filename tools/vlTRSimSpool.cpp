// vlTRSimSpool - drives the simulated spooler in a directory from outside:
// adds and removes printers and jobs, sets their status bits, arms failures
// and shows the state. The service sees the same directory through
// PrintSpooler "sim:DIR".
#include "platform/spooler/sim_state.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using namespace vltr::spooler;
using namespace vltr::spooler::sim;

namespace {

const char *const kUsage =
    "usage: vlTRSimSpool DIR VERB ...\n"
    "  add-printer NAME [--port P]\n"
    "  remove-printer NAME\n"
    "  set-status NAME BITS\n"
    "  set-attributes NAME BITS\n"
    "  add-job NAME --document D --owner U --pages N --size BYTES [--status BITS]\n"
    "      prints the new job id\n"
    "  set-job NAME ID --status BITS\n"
    "  remove-job NAME ID\n"
    "  fail NAME OPERATION [COUNT]   OPERATION: open, info, jobs, control;\n"
    "      the next COUNT (default 1) such operations fail; COUNT 0 disarms\n"
    "  show [NAME]\n"
    "BITS may be decimal or 0x hex. show prints one tab-separated line per printer\n"
    "and per job; tabs, line breaks and backslashes in texts are written \\t \\n \\r \\\\.\n";

// Thrown for a command line that cannot be run; main prints it.
struct UsageError {
  std::string text;
};
struct Failure {
  std::string text;
};

std::uint32_t bitsArgument(const std::string &text) {
  std::uint32_t bits = 0;
  if (!parseBits(text, &bits))
    throw UsageError{"bad bits '" + text + "' (decimal or 0x hex, at most 32 bits)"};
  return bits;
}

std::uint64_t numberArgument(const std::string &text, const char *what, std::uint64_t limit) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value > limit)
    throw UsageError{std::string("bad ") + what + " '" + text + "'"};
  return value;
}

// Splits "--name value" options from the positional arguments.
struct Arguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;
};

Arguments splitArguments(const std::vector<std::string> &args,
                         const std::vector<std::string> &known) {
  Arguments result;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i].rfind("--", 0) != 0) {
      result.positional.push_back(args[i]);
      continue;
    }
    std::string name = args[i].substr(2);
    bool isKnown = false;
    for (const auto &option : known)
      isKnown = isKnown || option == name;
    if (!isKnown)
      throw UsageError{"unknown option '" + args[i] + "'"};
    if (i + 1 >= args.size())
      throw UsageError{"option '" + args[i] + "' needs a value"};
    result.options[name] = args[++i];
  }
  return result;
}

void expectCount(const Arguments &args, std::size_t low, std::size_t high,
                 const std::string &verb) {
  if (args.positional.size() < low || args.positional.size() > high)
    throw UsageError{"wrong number of arguments for " + verb};
}

std::string required(const Arguments &args, const std::string &name, const std::string &verb) {
  auto it = args.options.find(name);
  if (it == args.options.end())
    throw UsageError{verb + " needs --" + name};
  return it->second;
}

SimPrinter &printerOf(SimState &state, const std::string &name) {
  SimPrinter *printer = state.findPrinter(name);
  if (printer == nullptr)
    throw Failure{"unknown printer '" + name + "'"};
  return *printer;
}

SimJob &jobOf(SimState &state, const std::string &printer, const std::string &idText) {
  auto id = static_cast<std::uint32_t>(numberArgument(idText, "job id", 0xFFFFFFFFu));
  SimJob *job = state.findJob(printerOf(state, printer).name, id);
  if (job == nullptr)
    throw Failure{"unknown job " + idText + " on printer '" + printer + "'"};
  return *job;
}

// Applies one change under the spooler's lock.
void commit(SimStore &store, const std::function<bool(SimState &)> &change) {
  std::string error;
  if (store.update(change, &error) != SPOOLER_OK)
    throw Failure{error};
}

// Runs the verb; returns the text to print on success.
std::string runVerb(SimStore &store, const std::string &verb,
                    const std::vector<std::string> &rest) {
  std::string output;
  Arguments args;
  if (verb == "add-printer") {
    args = splitArguments(rest, {"port"});
    expectCount(args, 1, 1, verb);
    if (args.positional[0].empty())
      throw UsageError{"a printer needs a name"};
    std::string error;
    if (store.create(&error) != SPOOLER_OK)
      throw Failure{error};
    commit(store, [&](SimState &state) {
      if (state.findPrinter(args.positional[0]))
        throw Failure{"printer '" + args.positional[0] + "' already exists"};
      SimPrinter printer;
      printer.name = args.positional[0];
      if (args.options.count("port"))
        printer.port = args.options["port"];
      state.printers.push_back(printer);
      return true;
    });
  } else if (verb == "remove-printer") {
    args = splitArguments(rest, {});
    expectCount(args, 1, 1, verb);
    commit(store, [&](SimState &state) {
      std::string name = printerOf(state, args.positional[0]).name;
      std::erase_if(state.printers, [&](const SimPrinter &p) { return p.name == name; });
      std::erase_if(state.jobs, [&](const SimJob &j) { return sameName(j.printer, name); });
      std::erase_if(state.failures, [&](const SimFailure &f) { return sameName(f.printer, name); });
      return true;
    });
  } else if (verb == "set-status" || verb == "set-attributes") {
    args = splitArguments(rest, {});
    expectCount(args, 2, 2, verb);
    std::uint32_t bits = bitsArgument(args.positional[1]);
    commit(store, [&](SimState &state) {
      SimPrinter &printer = printerOf(state, args.positional[0]);
      (verb == "set-status" ? printer.status : printer.attributes) = bits;
      return true;
    });
  } else if (verb == "add-job") {
    args = splitArguments(rest, {"document", "owner", "pages", "size", "status"});
    expectCount(args, 1, 1, verb);
    SimJob job;
    job.document = required(args, "document", verb);
    job.owner = required(args, "owner", verb);
    job.pages = static_cast<std::uint32_t>(
        numberArgument(required(args, "pages", verb), "page count", 0xFFFFFFFFu));
    job.size = numberArgument(required(args, "size", verb), "size", ~0ull);
    if (args.options.count("status"))
      job.status = bitsArgument(args.options["status"]);
    commit(store, [&](SimState &state) {
      job.printer = printerOf(state, args.positional[0]).name;
      job.id = state.nextJob++;
      if (state.nextJob == 0)
        state.nextJob = 1;
      state.jobs.push_back(job);
      output = std::to_string(job.id) + "\n";
      return true;
    });
  } else if (verb == "set-job") {
    args = splitArguments(rest, {"status"});
    expectCount(args, 2, 2, verb);
    std::uint32_t bits = bitsArgument(required(args, "status", verb));
    commit(store, [&](SimState &state) {
      jobOf(state, args.positional[0], args.positional[1]).status = bits;
      return true;
    });
  } else if (verb == "remove-job") {
    args = splitArguments(rest, {});
    expectCount(args, 2, 2, verb);
    commit(store, [&](SimState &state) {
      SimJob *job = &jobOf(state, args.positional[0], args.positional[1]);
      std::erase_if(state.jobs, [&](const SimJob &other) { return &other == job; });
      return true;
    });
  } else if (verb == "fail") {
    args = splitArguments(rest, {});
    expectCount(args, 2, 3, verb);
    Operation operation;
    if (!parseOperation(args.positional[1], &operation))
      throw UsageError{"unknown operation '" + args.positional[1] +
                       "' (open, info, jobs or control)"};
    std::uint32_t count = 1;
    if (args.positional.size() == 3)
      count = static_cast<std::uint32_t>(numberArgument(args.positional[2], "count", 0xFFFFFFFFu));
    commit(store, [&](SimState &state) {
      std::string name = printerOf(state, args.positional[0]).name;
      std::erase_if(state.failures, [&](const SimFailure &f) {
        return f.operation == operation && sameName(f.printer, name);
      });
      if (count > 0)
        state.failures.push_back({name, operation, count});
      return true;
    });
  } else if (verb == "show") {
    args = splitArguments(rest, {});
    expectCount(args, 0, 1, verb);
    commit(store, [&](SimState &state) {
      for (const auto &printer : state.printers) {
        if (!args.positional.empty() && !sameName(printer.name, args.positional[0]))
          continue;
        output += formatPrinterLine(printer) + "\n";
        for (const auto &job : state.jobs)
          if (sameName(job.printer, printer.name))
            output += formatJobLine(job) + "\n";
      }
      if (!args.positional.empty() && output.empty())
        throw Failure{"unknown printer '" + args.positional[0] + "'"};
      return false;
    });
  } else {
    throw UsageError{"unknown verb '" + verb + "'"};
  }

  return output;
}

} // namespace

int main(int argc, char **argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const auto &arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  }
  try {
    if (args.size() < 2)
      throw UsageError{"a directory and a verb are needed"};
    SimStore store(args[0]);
    std::string output = runVerb(store, args[1], {args.begin() + 2, args.end()});
    std::fputs(output.c_str(), stdout);
    return 0;
  } catch (const UsageError &error) {
    std::fprintf(stderr, "vlTRSimSpool: %s (see --help)\n", error.text.c_str());
    return 2;
  } catch (const Failure &error) {
    std::fprintf(stderr, "vlTRSimSpool: %s\n", error.text.c_str());
    return 1;
  }
}
