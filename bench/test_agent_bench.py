#!/usr/bin/env python3
"""Checks of bench/agent_bench's bookkeeping, which no run can reveal once wrong.

    python3 bench/test_agent_bench.py
"""

import contextlib
import http.client
import io
import os
import pathlib
import shutil
import signal
import ssl
import subprocess
import tempfile
import types
import unittest
import xml.etree.ElementTree as ElementTree

HERE = pathlib.Path(__file__).resolve().parent
# The script has no .py suffix, so it is loaded by hand.
bench = types.ModuleType("agent_bench")
bench.__file__ = str(HERE / "agent_bench")
exec(compile((HERE / "agent_bench").read_text(), bench.__file__, "exec"), bench.__dict__)


class TickAccounting(unittest.TestCase):
    def test_replies_fall_into_their_tick_and_only_200s_count(self):
        tick0 = 1000.0
        entry = bench.Entry
        entries = [
            entry(1000.2, 200, 900, False, True), entry(1012.5, 200, 900, False, True),  # tick 0
            entry(1029.99, 500, 900, False, True),        # not delivered, but a connection
            entry(1030.0, 200, 900, False, True),         # tick 1 starts at its edge
            entry(1031.0, 200, 900, False, False),        # on the connection of the one before
            entry(1075.0, 200, 900, False, False),        # tick 2 (ends at the stop)
            entry(1089.5, 200, 900, False, True),         # after the stop
        ]
        rows = bench.per_tick(entries, tick0, 3, stop_time=1089.0)
        self.assertEqual([r["delivered"] for r in rows], [2, 2, 1])
        self.assertEqual([r["connections"] for r in rows], [3, 1, 0])
        self.assertAlmostEqual(rows[0]["sweep"], 12.5)
        self.assertAlmostEqual(rows[1]["sweep"], 1.0)
        self.assertAlmostEqual(rows[2]["sweep"], 15.0)

    def test_a_tick_without_replies_has_no_sweep(self):
        rows = bench.per_tick([bench.Entry(1000.5, 200, 1, False, True)], 1000.0, 2,
                              stop_time=1059.0)
        self.assertEqual(rows[1], {"delivered": 0, "sweep": None, "connections": 0})

    def test_first_tick_is_the_earlier_witness(self):
        self.assertEqual(bench.infer_tick0(1000.30, 1000.25), 1000.25)
        self.assertEqual(bench.infer_tick0(1000.30, 1000.90), 1000.30)
        self.assertEqual(bench.infer_tick0(None, 1000.9), 1000.9)
        with self.assertRaises(bench.RunFailed):
            bench.infer_tick0(None, None)

    def test_sample_before_is_strictly_earlier(self):
        samples = [(1.0, "a"), (2.0, "b"), (3.0, "c")]
        self.assertEqual(bench.sample_before(samples, 3.0), (2.0, "b"))
        self.assertEqual(bench.sample_before(samples, 9.0), (3.0, "c"))
        self.assertIsNone(bench.sample_before(samples, 1.0))

    def test_longer_run_only_for_the_largest_default_http_run(self):
        self.assertEqual(bench.ticks_for(10000, "http", 6, explicit=False, quick=False), 10)
        self.assertEqual(bench.ticks_for(10000, "https", 6, explicit=False, quick=False), 6)
        self.assertEqual(bench.ticks_for(10000, "http", 3, explicit=True, quick=False), 3)
        self.assertEqual(bench.ticks_for(5000, "http", 6, explicit=False, quick=False), 6)

    def test_default_run_is_estimated_within_the_budget(self):
        plan = [(n, p, kept, bench.ticks_for(n, p, 4, True, False))
                for n in (1000, 10000) for p in bench.PROTOCOLS for kept in (False, True)]
        self.assertLess(bench.estimate_seconds(plan, True, True), 35 * 60)
        quick = bench.estimate_seconds([(200, "http", False, 3)], True, True)
        self.assertLess(quick, 3 * 60)
        quick_v3 = bench.estimate_seconds([(200, "http", False, 3)], True, True, True, [200], 3)
        self.assertLess(quick_v3, 6 * 60)

    def test_snmpv3_runs_get_a_v2c_run_of_their_size_only_where_the_plan_lacks_one(self):
        plan = [(1000, "http", False, 6), (1000, "http", True, 6), (5000, "http", True, 6),
                (5000, "https", False, 6)]
        self.assertEqual(bench.v2c_companions(plan, [1000, 5000], 6), [(5000, "http", False, 6)])
        self.assertEqual(bench.plan_text(plan, [1000, 5000], 6).split(", ")[4:],
                         ["1000-http-closed-v3 x6 (100 silent)", "5000-http-closed x6",
                          "5000-http-closed-v3 x6 (500 silent)"])
        # A missing companion costs one agent run more (and nothing without the agent's runs).
        with_v2c = plan + [(5000, "http", False, 6)]
        one_agent_run = bench.estimate_seconds([(5000, "http", False, 6)], False, False) - 5.0
        for agent, extra in ((True, one_agent_run), (False, 0)):
            def v3_cost(p):
                return (bench.estimate_seconds(p, True, True, agent, [5000], 6)
                        - bench.estimate_seconds(p, True, True, agent))
            self.assertAlmostEqual(v3_cost(plan) - v3_cost(with_v2c), extra)


class Options(unittest.TestCase):
    def test_snmpv3_defaults_and_bad_counts(self):
        cases = [([], [1000, 10000], [5000]), (["--quick"], [200], [200]),
                 (["--devices", "1000"], [1000], []), (["--no-snmpv3"], [1000, 10000], []),
                 (["--devices", "500,500", "--snmpv3", "300,300"], [500], [300]),
                 (["--quick", "--snmpv3", "1000", "--no-snmpv3"], [200], [])]
        for argv, devices, snmpv3 in cases:
            options = bench.parse_arguments(argv)
            self.assertEqual((options.devices, options.snmpv3), (devices, snmpv3), argv)
        for argv in (["--snmpv3", "5k"], ["--snmpv3", "70000"], ["--devices", ","]):
            with self.assertRaises(SystemExit, msg=argv), \
                    contextlib.redirect_stderr(io.StringIO()):
                bench.parse_arguments(argv)


class AgentFigures(unittest.TestCase):
    """A synthetic run: start-up burns 5 s of CPU, every later tick 1 s; 10 devices, 3 ticks."""

    def analyse(self, entries, **extra):
        tick0, term = 1000.0, 1089.0
        samples = []
        for i in range(int((term + 0.5 - 999.0) / 0.1)):
            t = 999.0 + i * 0.1
            cpu = 5000.0 if t >= tick0 + 1 else 0.0
            cpu += 1000.0 * sum(1 for k in (1, 2) if t >= tick0 + 30 * k + 1)
            rss = 20000 + 1000 * int((t - tick0) // 30)  # grows by 1 MB per tick
            samples.append((t, cpu, rss, 50000, 11 + (5 if t >= tick0 + 61 else 0), [cpu / 10]))
        folder = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, folder)
        (folder / "tamro.log").write_text("2026-Dec-08 10:00:00 AB [E] 127.1.0.1 - x\n")
        (folder / "tamro.out").write_text("")
        result = dict({"devices": 10, "ticks": 3, "protocol": "https"}, **extra)
        bench.analyse_agent(result, samples, entries, tick0, term, term, folder / "tamro.log",
                            folder / "tamro.out")
        return result

    def test_cpu_memory_and_delivery_leave_the_start_up_out(self):
        entry = bench.Entry
        entries = [entry(1000.5 + i * 0.01, 200, 900, False, True) for i in range(9)]  # start-up
        entries += [entry(1030.5 + i * 0.01, 200, 900, i > 0, True) for i in range(11)]
        entries += [entry(1060.5 + i * 0.01, 200 if i < 10 else 502, 900, True, True)
                    for i in range(11)]
        entries += [entry(1061.5, 200, 900, False, False)]  # a kept connection: not resumed again
        r = self.analyse(entries)
        self.assertAlmostEqual(r["cpu_per_1000"], 2000.0 * 1000 / 20)  # 2 ticks of 10 devices
        self.assertAlmostEqual(r["snmpd_cpu_per_1000"], 200.0 * 1000 / 20)
        self.assertEqual(r["rss_rest_kb"], [20000, 21000, 22000])
        self.assertEqual(r["rss_peak_kb"], 50000)
        self.assertEqual((r["fds_rest"], r["fds_peak"]), ([11, 11, 16], 16))
        self.assertEqual((r["delivered"], r["expected"]), (22, 22))
        self.assertEqual(r["connections"], [11, 11])
        self.assertEqual(r["statuses"], {502: 1})
        self.assertAlmostEqual(r["resumed_share"], 21 / 31)
        self.assertEqual(sum(r["problems"].values()), 1)

    def test_summary_compares_with_the_exporter_and_http_and_shows_failures(self):
        ok = self.analyse([bench.Entry(1030.5, 200, 900, False, True),
                           bench.Entry(1060.5, 200, 900, False, True)])
        ok["exit_s"] = 0.1
        ok["persistent"] = True
        http = dict(ok, protocol="http", cpu_per_1000=ok["cpu_per_1000"] / 2)
        failed = {"devices": 10, "protocol": "https-bare", "persistent": False, "ticks": 3,
                  "failure": "snmpd did not answer"}
        exporters = {10: {"cpu_per_1000": ok["cpu_per_1000"] * 4, "rss_rest_kb": [1024],
                          "rss_peak_kb": 2048, "sweeps": [0.1, 0.2], "ok": 30, "expected": 30,
                          "non_200": 0, "incomplete": 0, "dropped": 0}}
        lines = bench.summary_tables([failed, http, ok], exporters, {})
        self.assertIn("| https-bare | off | failed: snmpd did not answer", lines[2])
        self.assertIn("| http | on | 50,000 | 0.12 × | - |", lines[3])
        self.assertIn("| https | on | 100,000 | 0.25 × | 2.00 × |", lines[4])
        self.assertIn("| 1 / 1 |", lines[4])  # connections opened per tick

    def test_snmpv3_is_set_beside_its_own_v2c_run_and_held_to_its_goals(self):
        entries = [bench.Entry(1030.5, 200, 900, False, True)]
        v3 = self.analyse(entries, protocol="http", persistent=False, snmpv3=True,
                          answering=bench.answering_count(10, True))
        self.assertEqual(v3["expected"], 2 * (9 + 1))  # 9 answer, and the status reporter
        v2c = self.analyse(entries, protocol="http", persistent=False)
        v2c["cpu_per_1000"] = v3["cpu_per_1000"] / 3  # v3 at three times the cost
        kept = dict(v2c, persistent=True, cpu_per_1000=v3["cpu_per_1000"])
        https = dict(v2c, protocol="https", cpu_per_1000=v3["cpu_per_1000"] / 3 * 2)
        for r in (v2c, kept, https):
            r["exit_s"] = 0.1
        exporters_v3 = {10: {"cpu_per_1000": v3["cpu_per_1000"] * 2}}
        # The SNMPv3 run first: neither the https ratio nor the v3 table may take it for v2c.
        text = "\n".join(bench.summary_tables([v3, kept, v2c, https], {}, {}, exporters_v3))
        main_table, v3_table = text.split("| devices (silent)")
        self.assertEqual(main_table.count("| 10 | http | off |"), 1)
        self.assertIn("| - | 2.00 × |", main_table)  # https over the v2c http run
        self.assertIn("| 10 (1) |", v3_table)
        self.assertIn("| 10: CPU at most 2 × v2c | 3.00 × | missed |", v3_table)
        self.assertIn("| 10: CPU below snmp_exporter's | 0.50 × | met |", v3_table)
        self.assertIn("| 10: every answering device every tick | 1 / 20 | missed |", v3_table)
        self.assertIn("1 × `[E] ADDRESS - x`", v3_table)
        failed = {"devices": 10, "protocol": "http", "persistent": False, "ticks": 3,
                  "snmpv3": True, "answering": 9, "failure": "snmpd did not answer",
                  "folder": "/tmp/run"}
        self.assertIn("| 10 (1) | failed: snmpd did not answer |",
                      "\n".join(bench.summary_tables([failed], {}, {})))
        details = "\n".join(bench.detail_text([failed], {}, {10: {"targets": 9, "ticks": 3}}))
        self.assertIn("### Agent, 10 devices, SNMPv3 (1 silent), http", details)
        self.assertIn("### snmp_exporter with the SNMPv3 module, 9 targets, 3 ticks", details)


class LogParsing(unittest.TestCase):
    def test_problems_are_grouped_without_addresses(self):
        lines = [
            "2026-Dec-08 09:45:53 B28B8282 [E] 127.1.0.5 - SNMP response error: Timeout\n",
            "2026-Dec-08 09:45:54 B28B8282 [E] 127.1.3.250 - SNMP response error: Timeout\n",
            "2026-Dec-08 09:45:54 B28B8282 [W] 127.1.0.7 - HTTP response without content received\n",
            "2026-Dec-08 09:45:55 B28B8282 [E] <status reporter> - while sending heartbeat to "
            "server: connect 127.0.0.1:8443 refused\n",
            "2026-Dec-08 09:45:53 B28B8282 [I] IP address 127.0.0.1\n",
            "2026-Dec-08 09:45:53 B28B8282 [D] 127.1.0.5 - SNMP request sent\n",
        ]
        counts = bench.group_log_problems(lines)
        self.assertEqual(counts["[E] ADDRESS - SNMP response error: Timeout"], 2)
        self.assertEqual(counts["[W] ADDRESS - HTTP response without content received"], 1)
        self.assertEqual(counts["[E] <status reporter> - while sending heartbeat to server: "
                                "connect ADDRESS refused"], 1)
        self.assertEqual(sum(counts.values()), 4)

    def test_access_log_lines_of_both_servers(self):
        text = ('1796723153.638 200 910 - 1 "POST /heartbeat HTTP/1.0"\n'
                '1796723153.700 200 1210 r 1 TLSv1.3 "POST /heartbeat HTTP/1.0"\n'
                '1796723153.701 413 0 . 7 TLSv1.3 "POST /heartbeat HTTP/1.1"\n'
                'garbage\n'
                'x 200 1 - 1\n')
        self.assertEqual(bench.parse_nginx_log(text), [
            (1796723153.638, 200, 910, False, True), (1796723153.700, 200, 1210, True, True),
            (1796723153.701, 413, 0, False, False)])

    def test_snmp_service_bench_line(self):
        output = ("snmpd pid 1 on udp:0.0.0.0:4000; descriptor limit 20000\n"
                  "  1000 in flight:   30992 GETs/s   157000 completed     3 errors (12 dropped) | "
                  "CPU ms per 1000: ours  21.0 (reactor thread  15.2), snmpd  31.4 |   2.1 KB per "
                  "request in flight\n")
        self.assertEqual(bench.parse_ceiling(output), {
            "rate": 30992, "completed": 157000, "errors": 3, "dropped": 12,
            "snmpd_ms_per_1000": 31.4})
        self.assertIsNone(bench.parse_ceiling("1000 devices: open: Too many open files\n"))


class ExporterScrapes(unittest.TestCase):
    BODY = ("# HELP sysDescr x\nsysContact{sysContact=\"a\"} 1\nsysDescr{sysDescr=\"L\"} 1\n"
            "sysLocation{sysLocation=\"b\"} 1\nsysName{sysName=\"n\"} 1\n"
            "sysObjectID{sysObjectID=\"1.3.6\"} 1\nsysServices 72\nsysUpTime 151\n")

    def test_a_scrape_counts_only_with_every_metric(self):
        self.assertTrue(bench.scrape_ok(self.BODY.encode()))
        self.assertFalse(bench.scrape_ok(self.BODY.replace("sysServices 72\n", "").encode()))
        # A name in a comment or as a prefix of another metric is not the metric.
        self.assertFalse(bench.scrape_ok(self.BODY.replace("sysUpTime 151", "sysUpTimeX 1")
                                         .encode()))
        self.assertFalse(bench.scrape_ok(b"# HELP sysDescr\nsnmp_scrape_pdus_returned 0\n"))

    @unittest.skipUnless(os.access(bench.EXPORTER, os.X_OK), "snmp_exporter not installed")
    def test_modules_are_accepted_by_snmp_exporter(self):
        for snmpv3 in (False, True):
            with tempfile.TemporaryDirectory() as folder:
                path = pathlib.Path(folder) / "snmp.yml"
                bench.exporter_config(path, snmpv3)
                check = subprocess.run([bench.EXPORTER, f"--config.file={path}", "--dry-run"],
                                       capture_output=True, text=True)
                self.assertEqual(check.returncode, 0, check.stderr)


@unittest.skipUnless(os.access(bench.NGINX, os.X_OK) and os.geteuid() == 0,
                     "needs nginx and root")
class ManagementServer(unittest.TestCase):
    def test_every_post_is_read_whole_and_answered_with_the_reply(self):
        folder = pathlib.Path(tempfile.mkdtemp())
        folder.chmod(0o755)
        self.addCleanup(shutil.rmtree, folder)
        certificates = bench.make_certificates(folder / "tls")
        nginx, ports = bench.start_nginx(folder / "nginx", certificates)
        self.addCleanup(nginx.stop)
        body = "<heartbeat>" + "x" * 300000 + "</heartbeat>"
        trust = ssl.create_default_context(cafile=str(certificates[0]))
        for protocol, port in ports.items():
            connection = (http.client.HTTPConnection("127.0.0.1", port) if protocol == "http" else
                          http.client.HTTPSConnection("127.0.0.1", port, context=trust))
            connection._http_vsn, connection._http_vsn_str = 10, "HTTP/1.0"
            connection.request("POST", "/heartbeat", body=body,
                               headers={"Content-Type": "application/xml", "Connection": "close"})
            reply = connection.getresponse()
            self.assertEqual(reply.status, 200)
            self.assertEqual(reply.getheader("Content-Type"), "application/xml")
            self.assertEqual(reply.read().decode(), bench.REPLY)
            connection.close()
        nginx.stop(signal.SIGQUIT)
        for protocol in ports:
            [(_, status, length, _, opened)] = bench.parse_nginx_log(
                (folder / "nginx" / f"access-{protocol}.log").read_text())
            self.assertTrue(opened)
            self.assertEqual(status, 200)
            self.assertGreater(length, len(body))


class AgentHome(unittest.TestCase):
    def setUp(self):
        self.folder = pathlib.Path(tempfile.mkdtemp())
        self.addCleanup(shutil.rmtree, self.folder)

    def test_devices_mapping_and_configuration(self):
        conf = bench.write_agent_home(self.folder, 501, 4000, "https://127.0.0.1:8443/heartbeat",
                                      self.folder / "ca.pem")
        devices = ElementTree.parse(self.folder / "config" / "devices.xml").getroot()
        addresses = [d.findtext("ip-address") for d in devices]
        self.assertEqual(len(addresses), 501)
        self.assertEqual(len(set(addresses)), 501)
        self.assertEqual(addresses[250], "127.1.1.1")
        self.assertTrue(all(d.findtext("udp-port") == "4000" for d in devices))
        mapping = ElementTree.parse(self.folder / "config" / "mappings.xml").getroot()[0]
        oids = [v.findtext("oid") for v in mapping.find("mappers")]
        self.assertEqual(oids, bench.SYSTEM_GROUP)
        agent = ElementTree.parse(conf).getroot().find("agent")
        self.assertEqual(agent.findtext("ca-file"), str(self.folder / "ca.pem"))

    def test_no_ca_file_element_for_plain_http_and_kept_connections_when_asked(self):
        conf = bench.write_agent_home(self.folder, 1, 4000, "http://127.0.0.1:8080/heartbeat", None)
        self.assertIsNone(ElementTree.parse(conf).getroot().find("agent/ca-file"))
        self.assertIsNone(ElementTree.parse(conf).getroot().find("agent/persistent-connections"))
        conf = bench.write_agent_home(self.folder, 1, 4000, "http://127.0.0.1:8080/heartbeat", None,
                                      persistent=True)
        self.assertEqual(ElementTree.parse(conf).getroot().findtext(
            "agent/persistent-connections"), "true")

    def test_snmpv3_devices_one_in_ten_at_the_silent_port(self):
        bench.write_agent_home(self.folder, 40, 4000, "http://127.0.0.1:8080/heartbeat", None,
                               silent_port=4001)
        devices = ElementTree.parse(self.folder / "config" / "devices.xml").getroot()
        ports = [d.findtext("udp-port") for d in devices]
        self.assertEqual([i for i, port in enumerate(ports) if port == "4001"], [9, 19, 29, 39])
        self.assertEqual(bench.answering_count(40, True), 36)
        self.assertTrue(all(d.findtext("snmp-version") == "v3"
                            and d.findtext("security-level") == "authPriv" for d in devices))

    @unittest.skipUnless(os.access(bench.TAMRO, os.X_OK), "build/tamro not built")
    def test_the_agent_accepts_the_files(self):
        for silent_port in (None, 4001):
            conf = bench.write_agent_home(self.folder, 3, 4000, "http://127.0.0.1:8080/heartbeat",
                                          None, silent_port=silent_port)
            check = subprocess.run([str(bench.TAMRO), "--check", "-c", str(conf)],
                                   capture_output=True, text=True,
                                   env=dict(os.environ, TAMRO_HOME=str(self.folder)))
            self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
            self.assertIn("1 mappings, 3 devices", check.stdout)


if __name__ == "__main__":
    unittest.main()
