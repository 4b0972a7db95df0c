#include "tests/app/agent_files.hpp"

#include <chrono>

#include "tests/support/child_process.hpp"

namespace tamro::test {

finished_run run_tamro(const agent_files& files, const std::vector<std::string>& options) {
  std::vector<std::string> argv{TAMRO_BINARY, "-c", files.configuration_file()};
  argv.insert(argv.end(), options.begin(), options.end());
  child_process tamro(argv, files.home.file("out"));
  const auto code = tamro.wait(std::chrono::seconds(60));
  return {code.value_or(-1), tamro.output()};
}

void agent_files::write() const {
  write_file(home.file("heartbeat.xml"),
             "<heartbeat ip=\"{{IP_ADDRESS:xml_escape}}\" n=\"{{HEARTBEAT_COUNTER}}\"/>\n");
  write_file(home.file("mappings.xml"), mappings);
  write_file(home.file("devices.xml"), devices);
  write_file(configuration_file(),
             "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
             "<tamro-configuration>\n" +
                 comment + "\n  <logging><file>" + log_file() + "</file>" + logging +
                 "</logging>\n"
                 "  <agent><heartbeat-template>" +
                 home.file("heartbeat.xml") + "</heartbeat-template><server-uri>" + server_uri +
                 "</server-uri>" + agent_extra +
                 "</agent>\n"
                 "  <snmp>" +
                 snmp + "<mib-directory>" + home.path() + "</mib-directory><persistent-directory>" +
                 home.path() +
                 "</persistent-directory></snmp>\n"
                 "  <mappings-file>" +
                 home.file("mappings.xml") + "</mappings-file>\n  <devices-file>" +
                 home.file("devices.xml") + "</devices-file>\n  <reporting>" + reporting +
                 "</reporting>\n</tamro-configuration>\n");
}

void agent_files::poll_one_device(const std::string& address, unsigned short port) {
  mappings =
      "<mappings><mapping><name>system</name><mappers><variable><name>SYS_NAME</name>"
      "<oid>.1.3.6.1.2.1.1.5.0</oid></variable></mappers></mapping></mappings>";
  devices = "<devices><device><ip-address>" + address + "</ip-address><udp-port>" +
            std::to_string(port) +
            "</udp-port><community>public</community><snmp-version>v2c</snmp-version>"
            "<mapping-name>system</mapping-name><heartbeat-interval>1</heartbeat-interval>"
            "</device></devices>";
}

}  // namespace tamro::test
