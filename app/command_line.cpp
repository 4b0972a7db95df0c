#include "app/command_line.hpp"

#include <boost/program_options.hpp>
#include <sstream>
#include <stdexcept>

namespace tamro {

command_line parse_command_line(int argc, const char* const argv[]) {
  namespace po = boost::program_options;
  po::options_description options("Command line options");
  options.add_options()                                                      //
      ("help,h", "list command line options and exit")                       //
      ("version,V", "display version information and exit")                  //
      ("verbose,v", "print log messages to standard output at debug level")  //
      ("configuration,c", po::value<std::string>(), "configuration file")    //
      ("foreground,f", "run in the foreground instead of as a service")      //
      ("check,t",
       "load the configuration, mappings, devices and template, print every "
       "problem found and exit")  //
      ("once",
       "poll every device and the status reporter once, print each heartbeat "
       "instead of posting it, and exit")  //
      ("post", "with --once: post each heartbeat and print the server's reply");
  options.add_options()  //
      ("install-service",
       "Windows: register the agent as a service started at boot, with the -c file if "
       "given, and exit")  //
      ("remove-service", "Windows: stop and remove the service, and exit");
  po::variables_map values;
  po::store(po::parse_command_line(argc, argv, options), values);
  po::notify(values);

  command_line result;
  if (values.count("help")) {
    result.help = true;
    std::ostringstream text;
    text << options;
    result.help_text = text.str();
  } else if (values.count("version")) {
    result.version = true;
  } else {
    result.verbose = values.count("verbose") > 0;
    result.foreground = values.count("foreground") > 0;
    result.check = values.count("check") > 0;
    result.once = values.count("once") > 0;
    result.post = values.count("post") > 0;
    result.install_service = values.count("install-service") > 0;
    result.remove_service = values.count("remove-service") > 0;
    if (result.post && !result.once) throw std::invalid_argument("--post needs --once");
    if (result.check && result.once)
      throw std::invalid_argument("--check and --once exclude each other");
    if ((result.install_service || result.remove_service) &&
        (result.install_service + result.remove_service + result.check + result.once) > 1) {
      throw std::invalid_argument(
          "--install-service and --remove-service exclude each other and the other modes");
    }
    if (values.count("configuration")) {
      result.configuration = values["configuration"].as<std::string>();
    }
  }
  return result;
}

}  // namespace tamro
