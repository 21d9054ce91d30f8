#!/usr/bin/env python3
"""The whole dialogue of ipmod.exe under Wine, as an operator sees it.

Every test starts the real program on made-up adapters in a network namespace of its own, types
in its console (or feeds its standard input), reads the screen back with colours and checks the
command lines the stand-in netsh logged. Settings: see harness.py. Run one group with e.g.
  IPMOD_E2E_PROGRAM=... IPMOD_E2E_NETSH=... python3 -m unittest -v test_dialogue.Listing
"""

import os
import re
import time
import unittest

import harness
from harness import Adapter, Reply, Scenario, gbk

BANNER = "欢迎使用IP修改工具 Ver:1.1 BY：VELDR"
WARNING = "请勿用作违法用途，使用前请确保你有恢复网络的能力！"
CHOICE_PROMPT = "请选择你需要修改的连接名称:1~"
OUT_OF_RANGE = "输入错误,请重新输入！"
CHOSEN = "你选择的是："
ADDRESS_PROMPT = "请输入IP地址（如果需自动获取输入0）："
GATEWAY_PROMPT = "请输入网关，一般的路由器是（192.168.1.1）："
MASK_PROMPT = "请输入子网掩码，一般的路由器是（255.255.255.0）："
ADDRESS_OK = "修改成功,请查看！"
ADDRESS_FAILED = "修改失败："
DNS_MENU = ["请选择DNS修改类型：", "1、自动获取DNS", "2、设置114.114.114.114", "3、腾讯119.29.29.29",
            "4、自定义输入"]
DNS_AUTO_OK = "自动获取DNS设置成功！"
DNS_OK = "修改DNS设置成功！"
DNS_FAILED = "修改DNS设置失败:"
UNREADABLE = "无法读取该连接的当前设置。"

ETHERNET = "以太网 2"              # Chinese, with a blank
OFFICE = "办公 %PATH% 100%s"       # a percent sign alone and as an environment reference

def three_adapters():
    """Three adapters; the third has no connection name in the registry."""
    return [Adapter("lan0", "02:00:5e:10:00:01", "192.0.2.10/24", ETHERNET),
            Adapter("lan1", "02:00:5e:10:00:02", "198.51.100.20/24", OFFICE),
            Adapter("lan2", "02:00:5e:10:00:03", "203.0.113.30/24", None)]


# Command lines as the stand-in netsh sees them (GetCommandLineA, GBK). The DHCP switches are
# started directly with the program's own line; the static ones run through cmd.exe /c, which
# hands netsh the rest of the line from the program name on.
def dhcp_address_line(name):
    return gbk(f'netsh int ip set address name="{name}" source=dhcp')


def dhcp_dns_line(name):
    return gbk(f'netsh int ip set dns name="{name}" source=dhcp')


def static_address_line(name, ip, mask, gateway):
    return gbk(f'netsh interface ip set address "{name}" static {ip} {mask} {gateway} 1')


def static_dns_line(name, server):
    return gbk(f'netsh interface ip set dns "{name}" static {server}')


def has_chinese(text):
    return re.search("[\u4e00-\u9fff]", text) is not None


def setUpModule():
    # No silent skip: a machine that cannot run the suite fails it.
    harness.check_machine()
    harness.Config.from_environment()


class DialogueTest(unittest.TestCase):
    maxDiff = None

    # -- driving helpers

    def choose(self, s, line, count=3):
        s.wait_for(CHOICE_PROMPT + str(count))
        s.type_line(line)
        return s.wait_for(ADDRESS_PROMPT)

    def static_address(self, s, ip, gateway, mask):
        s.type_line(ip)
        s.wait_for(GATEWAY_PROMPT)
        s.type_line(gateway)
        s.wait_for(MASK_PROMPT)
        s.type_line(mask)

    def wait_menu(self, s, count=1):
        return s.wait_for(DNS_MENU[-1], count)

    def wait_lines_after(self, s, text, count=2):
        """Waits for `text` and the `count` rows after it, which a later write fills."""
        def filled(screen):
            hits = screen.find(text)
            return hits and all(screen.text(hits[0][0] + n) for n in range(1, count + 1))
        return s.wait_until(filled, f"{text!r} and {count} rows after it")

    def wait_dns_result(self, s):
        """Waits for whichever DNS message comes; the caller checks which one it is."""
        return s.wait_until(
            lambda screen: any(screen.count(m) for m in (DNS_OK, DNS_AUTO_OK, DNS_FAILED)),
            "a DNS result message")

    # -- screen assertions

    def row_of(self, screen, text, nth=0):
        hits = screen.find(text)
        self.assertGreater(len(hits), nth, f"{text!r} not on the screen\n{screen}")
        return hits[nth]

    def assert_coloured(self, screen, text, colour):
        """Every occurrence of `text` on the screen is in `colour`."""
        hits = screen.find(text)
        self.assertTrue(hits, f"{text!r} not on the screen\n{screen}")
        for row, start in hits:
            self.assertEqual(screen.colours(row, start, len(text)), {colour},
                             f"colour of {text!r} on row {row}\n{screen.coloured()}")

    def assert_row_from(self, screen, text, expected_rest):
        """The row holding `text` reads, from `text` on, exactly `text` + `expected_rest`."""
        row, start = self.row_of(screen, text)
        self.assertEqual(screen.text(row)[start:], text + expected_rest, f"row {row}\n{screen}")
        return row

    def assert_read_back(self, screen, text, colour, after_row):
        """The read-back line reads `text`, in `colour`, alone on the first row after `after_row`
        that is not blank (a line end kept before it leaves one blank row). Returns its row."""
        row = after_row + 1
        if not screen.text(row):
            row += 1
        self.assertEqual(screen.text(row), text, f"row {row}\n{screen}")
        self.assertEqual(screen.colours(row, 0, len(text)), {colour}, screen.coloured())
        return row

    def assert_menu_rows(self, screen, first_row):
        for offset, line in enumerate(DNS_MENU):
            if offset:
                self.assertEqual(screen.text(first_row + offset), line, f"\n{screen}")
        self.assert_coloured(screen, DNS_MENU[0], "yellow")
        self.assert_coloured(screen, DNS_MENU[-1], "yellow")

    def assert_waits_for_final_line(self, s):
        """After a handled DNS choice the program waits for one more line, then ends with 0."""
        time.sleep(0.5)
        self.assertIsNone(s.exit_status(), "ended before the final line")
        s.type_line("")
        self.assertEqual(s.wait_exit(), 0)


class Listing(DialogueTest):
    """Banner, adapter list and the choice of a connection."""

    def test_banner_entries_and_prompt_at_their_places(self):
        adapters = three_adapters()
        with Scenario(adapters) as s:
            screen = s.wait_for(CHOICE_PROMPT + "3")
            self.assertEqual(screen.text(0), " " * 50 + BANNER, f"\n{screen}")
            self.assertEqual(screen.colours(0, 50, len(BANNER)), {"yellow"})
            self.assertEqual(screen.text(1), WARNING)
            self.assertEqual(screen.colours(1, 0, len(WARNING)), {"red"})
            for number, adapter in enumerate(adapters, 1):
                row = number + 1
                name_part = f"{number}、{adapter.name or ''}"
                address_part = f" IP：{adapter.ip}"
                with self.subTest(entry=number):
                    # The entry without a registry name shows nothing after "、".
                    self.assertEqual(screen.text(row), "  " + name_part + address_part,
                                     f"\n{screen}")
                    self.assertEqual(screen.colours(row, 2, len(name_part)), {"green"},
                                     screen.coloured())
                    self.assertEqual(
                        screen.colours(row, 2 + len(name_part), len(address_part)), {"cyan"},
                        screen.coloured())
            self.assertEqual(screen.text(5), "  " + CHOICE_PROMPT + "3")
            self.assertEqual(screen.colours(5, 2, len(CHOICE_PROMPT) + 1), {"yellow"})
            self.assertEqual(screen.lines[6:], [""] * (len(screen.lines) - 6), f"\n{screen}")

    def test_numbers_outside_the_list_are_refused_until_a_valid_one(self):
        with Scenario(three_adapters()) as s:
            s.wait_for(CHOICE_PROMPT + "3")
            wrong = ["4", "0", "-1", "x", ""]
            for count, line in enumerate(wrong, 1):
                s.type_line(line)
                s.wait_for(OUT_OF_RANGE, count)
            # Full-width digit two: typed as UTF-8 in the pane, read as GBK A3 B2.
            s.type_line("２")
            screen = s.wait_for(ADDRESS_PROMPT)
            self.assertEqual(screen.count(OUT_OF_RANGE), len(wrong), f"\n{screen}")
            self.assert_coloured(screen, OUT_OF_RANGE, "red")
            self.assertEqual(screen.count(CHOICE_PROMPT), 1, "the prompt is not repeated")
            row = self.assert_row_from(screen, CHOSEN, f"{OFFICE}（IP:198.51.100.20）")
            # The settings before any change come between the choice and the first prompt.
            self.assertEqual(screen.text(row + 1), UNREADABLE)
            self.assert_coloured(screen, UNREADABLE, "cyan")
            self.assertEqual(screen.text(row + 2), ADDRESS_PROMPT)
            self.assert_coloured(screen, CHOSEN + OFFICE, "yellow")
            self.assert_coloured(screen, ADDRESS_PROMPT, "yellow")
            self.assertEqual(s.netsh_calls(), [])

    def test_a_line_starting_with_a_zero_byte_is_a_line_not_the_end(self):
        with Scenario(three_adapters(), stdin="fifo") as s:
            s.wait_for(CHOICE_PROMPT + "3")
            s.send(b"\x001\n1\n0\n")
            screen = self.wait_menu(s)
            self.assertEqual(screen.count(OUT_OF_RANGE), 1, f"\n{screen}")
            self.assertEqual(s.netsh_calls(), [dhcp_address_line(ETHERNET)])

    # The program's own texts, by the language the console can show (netsh's words and the
    # connection names are shown as they are in either).
    CHINESE = dict(banner=BANNER, warning=WARNING, choice=CHOICE_PROMPT, listed="  1、{} IP：{}",
                   chosen=CHOSEN, prompts=[ADDRESS_PROMPT, GATEWAY_PROMPT, MASK_PROMPT],
                   menu=DNS_MENU, ok=ADDRESS_OK, failed=ADDRESS_FAILED, dns_ok=DNS_OK,
                   dns_failed=DNS_FAILED)
    ENGLISH = dict(banner="IP settings tool Ver:1.1 BY: VELDR",
                   warning="Do not use it unlawfully. Before you use it, make sure you can "
                           "restore the network!",
                   choice="Choose the connection to change: 1~", listed="  1. {} IP: {}",
                   chosen="You chose: ",
                   prompts=["IP address (0 to obtain it automatically):",
                            "Gateway (a typical router is 192.168.1.1):",
                            "Subnet mask (a typical router uses 255.255.255.0):"],
                   menu=["DNS setting:", "1. Obtain DNS automatically", "2. Use 114.114.114.114",
                         "3. Tencent 119.29.29.29", "4. Type a server"],
                   ok="Changed. Please check!", failed="Change failed: ", dns_ok="DNS changed!",
                   dns_failed="DNS change failed: ")

    # On a console in another code page netsh prints in that code page: its words are judged
    # in GBK and shown as it printed them, and the program speaks English, which that console
    # can draw (Wine's console reports no font face). Under C.UTF-8 Wine's code pages are
    # Western ones (1252 and, for the console, 437), as on an English Windows; chcp 65001 is the
    # system-wide UTF-8 setting. label, environment, console code page, connection name and its
    # code page, netsh's reply (exit code 1) in the console's code page, the program's texts,
    # and netsh's words after the failure messages (None: both steps succeed).
    CODE_PAGES = [
        ("437 console, failure with accented letters", {"LANG": "C.UTF-8", "LC_ALL": "C.UTF-8"},
         None, "Conexión 2", "cp1252", "Paramètre incorrect: Größe ungültig.\r\n".encode("cp437"),
         ENGLISH, "Paramètre incorrect: Größe ungültig."),
        ("65001 console, Chinese confirmation", {}, 65001, ETHERNET, "gbk",
         "确定。\r\n".encode("utf-8"), ENGLISH, None),
        ("936 console", {}, 936, ETHERNET, "gbk", "确定。\r\n".encode("gbk"), CHINESE, None),
    ]

    def test_the_console_decides_the_language_and_netshs_words_stay_intact(self):
        for label, environment, code_page, name, name_encoding, reply, texts, words in \
                self.CODE_PAGES:
            adapters = [Adapter("lan0", "02:00:5e:10:00:01", "192.0.2.10/24", name)]
            with self.subTest(label), \
                    Scenario(adapters, environment=environment, console_state=True,
                             code_page=code_page, default_reply=Reply(reply, 1)) as s:
                # The name comes from the registry in the system's code page.
                screen = s.wait_for(texts["choice"] + "1")
                self.assertEqual(screen.text(0).strip(), texts["banner"], f"\n{screen}")
                self.assertEqual(screen.text(1), texts["warning"])
                self.assertEqual(screen.text(2), texts["listed"].format(name, "192.0.2.10"))
                self.assertEqual(screen.colours(2, 2, 2), {"green"}, screen.coloured())
                s.type_line("1")
                s.wait_for(texts["chosen"] + name)
                for prompt, line in zip(texts["prompts"],
                                        ["192.0.2.50", "192.0.2.1", "255.255.255.0"]):
                    s.wait_for(prompt)
                    s.type_line(line)
                screen = s.wait_for(texts["menu"][-1])
                address_message = texts["ok"] if words is None else texts["failed"] + words
                self.assertEqual(screen.count(address_message), 1, f"\n{screen}")
                first = self.row_of(screen, texts["menu"][0])[0]
                self.assertEqual([screen.text(first + i) for i in range(5)], texts["menu"])
                self.assert_coloured(screen, texts["menu"][0], "yellow")
                s.type_line("2")
                dns_message = texts["dns_ok"] if words is None else texts["dns_failed"] + words
                screen = s.wait_until(lambda shown: shown.count(dns_message), dns_message)
                s.type_line("")
                self.assertEqual(s.wait_exit(), 0)
                # The name reaches netsh byte for byte.
                self.assertEqual(s.netsh_calls(), [line.encode(name_encoding) for line in (
                    f'netsh interface ip set address "{name}" static 192.0.2.50 255.255.255.0 '
                    '192.0.2.1 1',
                    f'netsh interface ip set dns "{name}" static 114.114.114.114')])
                # The console's settings are as they were.
                states = s.console_states()
                self.assertEqual(len(states), 2, states)
                self.assertEqual(states[0], states[1])
                self.assertIn(f" {code_page or 437} ".encode(), states[0])

    def test_end_of_input_at_the_choice_prompt_ends_the_program(self):
        with Scenario(three_adapters(), stdin="fifo") as s:
            s.wait_for(CHOICE_PROMPT + "3")
            s.send(b"9\n")
            s.wait_for(OUT_OF_RANGE)
            s.close_input()
            self.assertEqual(s.wait_exit(), 0)
            screen = s.screen()
            self.assertEqual(screen.count(CHOSEN), 0, f"\n{screen}")
            self.assertEqual(s.netsh_calls(), [])


class AddressStep(DialogueTest):
    """DHCP and static address, judged from what netsh prints and returns."""

    def test_dhcp_runs_netsh_in_the_console_then_automatic_dns(self):
        reply = b"STAND-IN NETSH SAYS HELLO\r\n"
        with Scenario(three_adapters(), replies={1: Reply(reply)}) as s:
            self.choose(s, "1")
            s.type_line("0")
            screen = self.wait_menu(s)
            self.assertEqual(s.netsh_calls(), [dhcp_address_line(ETHERNET)])
            # netsh shares the console; the program adds no message of its own, only what it
            # reads back (nothing here: the scenario keeps no stored settings).
            prompt_row, _ = self.row_of(screen, ADDRESS_PROMPT)
            self.assertEqual(screen.text(prompt_row), ADDRESS_PROMPT + "0")
            self.assertEqual(screen.text(prompt_row + 1), reply.decode().strip())
            read_back = self.assert_read_back(screen, UNREADABLE, "red", prompt_row + 1)
            self.assertEqual(screen.text(read_back + 1), DNS_MENU[0])
            self.assert_menu_rows(screen, read_back + 1)
            self.assertEqual(screen.count(ADDRESS_OK) + screen.count(ADDRESS_FAILED), 0)

            s.type_line("1")
            screen = self.wait_dns_result(s)
            self.assert_row_from(screen, DNS_AUTO_OK, "")
            self.assert_coloured(screen, DNS_AUTO_OK, "yellow")
            self.assertEqual(s.netsh_calls(),
                             [dhcp_address_line(ETHERNET), dhcp_dns_line(ETHERNET)])
            self.assert_waits_for_final_line(s)

    # Without stored settings to read back the verdict is netsh's word. label, netsh output,
    # netsh exit code, address failure text expected after "修改失败：" (None: success; a
    # trailing "\n" marks a line end kept), DNS menu lines typed, DNS server, DNS failure text
    # expected after "修改DNS设置失败:" (None: success)
    VERDICTS = [
        ("confirmed", gbk("确定。\r\n"), 0, None, ["2"], "114.114.114.114", None),
        ("confirmed despite exit code", gbk("警告：确定已保存。\r\n"), 1, None, ["3"],
         "119.29.29.29", None),
        ("silent success", b"", 0, None, ["4", "203.0.113.53"], "203.0.113.53", None),
        ("English success", b"Ok.\r\n", 0, None, ["3"], "119.29.29.29", None),
        # Less one CR LF: of CR LF CR LF one stays, so a blank row follows.
        ("message and blank line", gbk("对象已存在。\r\n\r\n"), 1, "对象已存在。\n", ["2"],
         "114.114.114.114", "对象已存在。"),
        # A single line loses its line end: the read-back line follows on the next row.
        ("one line", gbk("参数错误。\r\n"), 1, "参数错误。", ["4", "198.51.100.53"],
         "198.51.100.53", "参数错误。"),
    ]

    def test_static_address_and_static_dns_verdicts(self):
        for label, output, code, address_failure, dns_lines, server, dns_failure in \
                self.VERDICTS:
            with self.subTest(label), \
                    Scenario(three_adapters(), default_reply=Reply(output, code)) as s:
                self.choose(s, "1")
                self.static_address(s, "192.0.2.50", "192.0.2.1", "255.255.255.0")
                screen = self.wait_menu(s)
                self.assertEqual(s.netsh_calls(), [static_address_line(
                    ETHERNET, "192.0.2.50", "255.255.255.0", "192.0.2.1")])
                message = ADDRESS_OK if address_failure is None else \
                    ADDRESS_FAILED + address_failure.rstrip("\n")
                row = self.assert_row_from(screen, message, "")
                self.assert_coloured(screen, message, "yellow")
                read_back = self.assert_read_back(screen, UNREADABLE, "red", row)
                self.assertEqual(read_back - row, 2 if (address_failure or "").endswith("\n")
                                 else 1, f"\n{screen}")
                self.assertEqual(screen.text(read_back + 1), DNS_MENU[0])
                self.assert_menu_rows(screen, read_back + 1)

                for line in dns_lines:
                    s.type_line(line)
                expected = DNS_OK if dns_failure is None else DNS_FAILED + dns_failure
                screen = s.wait_for(UNREADABLE, 3)
                row = self.assert_row_from(screen, expected, "")
                self.assert_coloured(screen, expected, "yellow")
                self.assert_read_back(screen, UNREADABLE, "red", row)
                self.assertEqual(s.netsh_calls()[1:], [static_dns_line(ETHERNET, server)])
                self.assert_waits_for_final_line(s)

    def test_silent_failure_names_the_exit_code(self):
        with Scenario(three_adapters(), default_reply=Reply(b"", 5)) as s:
            self.choose(s, "1")
            self.static_address(s, "192.0.2.50", "192.0.2.1", "255.255.255.0")
            screen = self.wait_menu(s)
            row, start = self.row_of(screen, ADDRESS_FAILED)
            text = screen.text(row)[start + len(ADDRESS_FAILED):]
            self.assertTrue(has_chinese(text) and "5" in text, f"\n{screen}")
            s.type_line("2")
            screen = self.wait_dns_result(s)
            row, start = self.row_of(screen, DNS_FAILED)
            text = screen.text(row)[start + len(DNS_FAILED):]
            self.assertTrue(has_chinese(text) and "5" in text, f"\n{screen}")
            self.assertEqual(screen.count(DNS_OK), 0)
            self.assertEqual(len(s.netsh_calls()), 2)

    def test_end_of_input_at_the_gateway_prompt_runs_nothing(self):
        with Scenario(three_adapters()) as s:
            self.choose(s, "1")
            s.type_line("192.0.2.50")
            s.wait_for(GATEWAY_PROMPT)
            s.end_input_by_keyboard()
            self.assertEqual(s.wait_exit(), 0)
            self.assertEqual(s.screen().count(MASK_PROMPT), 0)
            self.assertEqual(s.netsh_calls(), [])


class DnsMenu(DialogueTest):
    """The DNS menu after a DHCP address step (one netsh call before the menu)."""

    def test_unrecognised_choices_bring_the_menu_back(self):
        with Scenario(three_adapters(), default_reply=Reply(gbk("确定。\r\n"))) as s:
            self.choose(s, "1")
            s.type_line("0")
            self.wait_menu(s)
            for count, line in enumerate(["5", "110", "2 "], 2):
                s.type_line(line)
                self.wait_menu(s, count)
            s.type_line("2")
            screen = self.wait_dns_result(s)
            self.assert_row_from(screen, DNS_OK, "")
            self.assertEqual(screen.count(DNS_MENU[0]), 4, f"\n{screen}")
            self.assertEqual(s.netsh_calls(), [dhcp_address_line(ETHERNET),
                                               static_dns_line(ETHERNET, "114.114.114.114")])
            self.assert_waits_for_final_line(s)

    def test_custom_server_is_read_without_a_prompt(self):
        with Scenario(three_adapters(), default_reply=Reply(gbk("确定。\r\n"))) as s:
            self.choose(s, "1")
            s.type_line("0")
            screen = self.wait_menu(s)
            menu_end, _ = self.row_of(screen, DNS_MENU[-1])
            s.type_line("4")
            s.wait_until(lambda screen: screen.text(menu_end + 1) == "4", "the echo of 4")
            s.type_line("203.0.113.53")
            screen = self.wait_dns_result(s)
            self.assertEqual(screen.text(menu_end + 1), "4")
            self.assertEqual(screen.text(menu_end + 2), "203.0.113.53")
            self.assertEqual(screen.text(menu_end + 3), DNS_OK)
            self.assertEqual(s.netsh_calls()[1:], [static_dns_line(ETHERNET, "203.0.113.53")])

    def test_server_set_but_not_answering_is_reported_as_set_with_netshs_warning(self):
        warning = "配置的 DNS 服务器不正确或不存在。"
        with Scenario(three_adapters(),
                      replies={2: Reply(b"\r\n" + gbk(warning) + b"\r\n", 1)}) as s:
            self.choose(s, "1")
            s.type_line("0")
            self.wait_menu(s)
            s.type_line("3")
            screen = self.wait_dns_result(s)
            self.assert_row_from(screen, DNS_OK, warning)
            self.assertEqual(screen.count(DNS_FAILED), 0, f"\n{screen}")
            self.assertEqual(s.netsh_calls()[1:], [static_dns_line(ETHERNET, "119.29.29.29")])

    def test_end_of_input_at_the_menu_ends_the_program(self):
        with Scenario(three_adapters()) as s:
            self.choose(s, "1")
            s.type_line("0")
            self.wait_menu(s)
            s.end_input_by_keyboard()
            self.assertEqual(s.wait_exit(), 0)
            self.assertEqual(s.netsh_calls(), [dhcp_address_line(ETHERNET)])
            self.assertEqual(s.screen().count(DNS_MENU[0]), 1)


class Guards(DialogueTest):
    """Unsafe input, strangers' programs, redirected output, names cmd would rewrite."""

    # Values typed at (address, gateway, mask) and at the custom DNS prompt; each holds
    # something the command interpreter would act on.
    REFUSED = [
        ("ampersand and bar", ("192.0.2.50&echo", "192.0.2.1", "255.255.255.0"),
         "119.29.29.29|more"),
        ("double quote and percent", ("192.0.2.50", '192.0.2.1"', "255.255.255.0"), "%PATH%"),
        ("caret and redirections", ("192.0.2.50", "192.0.2.1", "255.255.255.0^"),
         "1.1.1.1>x"),
        ("less-than", ("192.0.2.50<in", "192.0.2.1", "255.255.255.0"), "1.1.1.1 ^& x"),
    ]

    def test_values_with_interpreter_characters_are_refused(self):
        for label, (ip, gateway, mask), server in self.REFUSED:
            with self.subTest(label), \
                    Scenario(three_adapters(), default_reply=Reply(gbk("确定。\r\n"))) as s:
                self.choose(s, "1")
                self.static_address(s, ip, gateway, mask)
                screen = self.wait_menu(s)
                row, start = self.row_of(screen, ADDRESS_FAILED)
                self.assertTrue(has_chinese(screen.text(row)[start + len(ADDRESS_FAILED):]),
                                f"no explanation\n{screen}")
                self.assertEqual(screen.count(ADDRESS_OK), 0)
                s.type_line("4")
                s.type_line(server)
                screen = self.wait_dns_result(s)
                row, start = self.row_of(screen, DNS_FAILED)
                self.assertTrue(has_chinese(screen.text(row)[start + len(DNS_FAILED):]),
                                f"no explanation\n{screen}")
                self.assertEqual(s.netsh_calls(), [])

    def test_control_byte_in_a_value_is_refused(self):
        with Scenario(three_adapters(), stdin="fifo",
                      default_reply=Reply(gbk("确定。\r\n"))) as s:
            s.send(b"1\n192.0.2.50\x01x\n192.0.2.1\n255.255.255.0\n4\n1.1.1.1\x1bx\n")
            screen = self.wait_dns_result(s)
            self.assertEqual(screen.count(ADDRESS_OK) + screen.count(DNS_OK), 0, f"\n{screen}")
            self.assertEqual(screen.count(ADDRESS_FAILED), 1, f"\n{screen}")
            self.assertEqual(s.netsh_calls(), [])
            s.send(b"\n")
            self.assertEqual(s.wait_exit(), 0)

    # Address line, DNS choice, and the command lines the stand-in must log: together the
    # rows start every kind of command (direct DHCP, cmd /c static, nested cmd /c DNS).
    PLANTED = [
        ("DHCP and static DNS", ["0"], "2",
         [dhcp_address_line(ETHERNET), static_dns_line(ETHERNET, "114.114.114.114")]),
        ("static address and automatic DNS",
         ["192.0.2.50", "192.0.2.1", "255.255.255.0"], "1",
         [static_address_line(ETHERNET, "192.0.2.50", "255.255.255.0", "192.0.2.1"),
          dhcp_dns_line(ETHERNET)]),
    ]

    def test_programs_planted_beside_the_program_or_on_path_never_run(self):
        # The variable stops an interpreter looking in its current directory (the system
        # directory) before PATH, whose front folder holds a netsh.exe and a netsh.bat.
        for label, address_lines, dns_choice, calls in self.PLANTED:
            with self.subTest(label), \
                    Scenario(three_adapters(), planted=True,
                             environment={"NoDefaultCurrentDirectoryInExePath": "1"},
                             default_reply=Reply(gbk("确定。\r\n"))) as s:
                self.choose(s, "1")
                for line in address_lines:
                    s.type_line(line)
                self.wait_menu(s)
                s.type_line(dns_choice)
                self.wait_dns_result(s)
                self.assertEqual(s.planted_calls(), [])
                self.assertEqual(s.netsh_calls(), calls)
                # The planted copies do log when something runs them.
                s.run_wine(os.path.join(s.app, "netsh.exe"), "probe")
                s.run_wine("cmd", "/c", harness.windows_path(os.path.join(s.app, "netsh.bat")),
                           "probe")
                # A bare netsh outside the system directory comes from the front of PATH.
                s.run_wine("cmd", "/c", "netsh", "probe")
                self.assertEqual(len(s.planted_calls()), 3, s.planted_calls())
                self.assertIn(b"path-front", s.planted_calls()[2])
                self.assertTrue(all(c.endswith(b"probe") for c in s.planted_calls()),
                                s.planted_calls())

    def test_ctrl_c_ends_the_program_while_netsh_never_ends(self):
        with Scenario(three_adapters(), environment={"FAKE_NETSH_SLEEP_MS": "4294967295"}) as s:
            self.choose(s, "1")
            self.static_address(s, "192.0.2.50", "192.0.2.1", "255.255.255.0")
            harness.poll(s.netsh_calls, "netsh to start")
            self.assertIsNone(s.exit_status())
            s.key("C-c")
            # Under Wine the terminal's Ctrl+C ends netsh and its interpreter too, so no verdict
            # is checked; the program must end instead of waiting for ever, as interrupted.
            self.assertEqual(s.wait_exit(), self.INTERRUPTED_EXIT_STATUS)

    # STATUS_CONTROL_C_EXIT (0xC000013A), the exit code of an interrupted program, as Linux sees
    # it (its low byte).
    INTERRUPTED_EXIT_STATUS = 0x3A

    def test_ctrl_c_at_a_prompt_ends_the_program_with_nothing_more(self):
        # Windows ends the read at the prompt as if the input had ended (Wine's console leaves it
        # waiting); the program must end as interrupted instead: nothing more on the screen, no
        # further prompt, no command run.
        with Scenario(three_adapters(), default_reply=Reply(gbk("确定。\r\n"))) as s:
            self.choose(s, "1")
            s.type("192.0.2.50")
            before = s.wait_for("192.0.2.50")
            s.key("C-c")
            self.assertEqual(s.wait_exit(), self.INTERRUPTED_EXIT_STATUS)
            after = s.screen()
            self.assertEqual(after.lines, before.lines, f"\n{before}\n---\n{after}")
            self.assertEqual(s.netsh_calls(), [])

    def test_redirected_output_shows_nothing_and_still_runs_the_commands(self):
        with Scenario(three_adapters(), stdin="fifo", stdout="file",
                      replies={2: Reply(gbk("确定。\r\n"))}) as s:
            s.send(b"9\n1\n0\n7\n2\n\n")
            s.close_input()
            self.assertEqual(s.wait_exit(), 0)
            self.assertEqual(s.netsh_calls(), [dhcp_address_line(ETHERNET),
                                               static_dns_line(ETHERNET, "114.114.114.114")])
            self.assertEqual(s.output_bytes(), b"")
            screen = s.screen()
            self.assertEqual(screen.lines, [""] * len(screen.lines), f"\n{screen}")

    def test_connection_name_with_percent_is_never_handed_to_the_interpreter(self):
        # cmd expands %PATH% even inside double quotes, so netsh would be told about another
        # connection: both static commands are refused and nothing runs.
        with Scenario(three_adapters(), default_reply=Reply(gbk("确定。\r\n"))) as s:
            self.choose(s, "2")
            self.static_address(s, "198.51.100.50", "198.51.100.1", "255.255.255.0")
            self.wait_menu(s)
            s.type_line("2")
            screen = self.wait_dns_result(s)
            self.assertEqual(s.netsh_calls(), [])
            self.assertEqual(screen.count(ADDRESS_FAILED + "连接名称含有"), 1, f"\n{screen}")
            self.assertEqual(screen.count(DNS_FAILED + "连接名称含有"), 1, f"\n{screen}")

class ReadBack(DialogueTest):
    """After each change the program reads the connection back: the stand-in netsh is the model
    of Windows, changing the stored settings and the live state as Windows would, or, told so,
    answering as netsh is known to (a success claimed, a refusal while the state is there
    already, a stored address that Windows does not use)."""

    STATIC_50 = "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：192.0.2.1"
    STATIC_10 = "当前设置：IP：192.0.2.10，子网掩码：255.255.255.0，网关：192.0.2.1"
    STORED_DNS = "当前DNS：192.0.2.53，198.51.100.53"
    STATIC = ["192.0.2.50", "192.0.2.1", "255.255.255.0"]

    # label, first adapter (dhcp, auto_dns, more addresses, up) and the scenario's lease, mode
    # per netsh call, reply per call, address lines, address message (for the DHCP switch, which
    # has none: what netsh prints in the console, if anything), its read-back line and colour,
    # DNS lines, DNS message, its read-back line and colour.
    STEPS = [
        ("both made", {}, {}, {}, STATIC, ADDRESS_OK, STATIC_50, "green",
         ["2"], DNS_OK, "当前DNS：114.114.114.114", "green"),
        ("DHCP and automatic DNS made", {}, {}, {}, ["0"], "",
         "当前设置：自动获取IP地址，IP：192.0.2.100", "green", ["1"], DNS_AUTO_OK, "当前DNS：自动获取",
         "green"),
        # netsh refuses what is there already, with exit code 1: the state asked for is there.
        ("refused, already there", {"auto_dns": True}, {}, {},
         ["192.0.2.10", "192.0.2.1", "255.255.255.0"], ADDRESS_OK, STATIC_10, "green",
         ["1"], DNS_AUTO_OK, "当前DNS：自动获取", "green"),
        ("DHCP already on, a DNS change claimed", {"dhcp": True}, {2: "claim"}, {}, ["0"],
         "已在此接口上启用 DHCP。",
         "当前设置：自动获取IP地址，IP：192.0.2.10", "green", ["3"], DNS_FAILED + "设置未生效。",
         STORED_DNS, "red"),
        # netsh answers as if the change was made (an unplugged cable), or in words the
        # program does not know, with an exit code that says it failed.
        ("an address change claimed, a DNS change in other words", {}, {1: "claim"},
         {2: Reply("Vorgang fehlgeschlagen?\r\n".encode("cp1252"), 1)}, STATIC,
         ADDRESS_FAILED + "设置未生效。", STATIC_10, "red", ["4", "203.0.113.53"], DNS_OK,
         "当前DNS：203.0.113.53", "green"),
        # The address asked is the connection's second already; netsh refuses and changes
        # nothing, which leaves the first where it was: no change made.
        ("several addresses, the second asked", {"more": ["192.0.2.50/24"]}, {1: "claim"},
         {1: Reply(gbk("对象已存在。\r\n"), 1)}, STATIC, ADDRESS_FAILED + "对象已存在。", STATIC_10,
         "red", ["2"], DNS_OK, "当前DNS：114.114.114.114", "green"),
        ("no gateway", {}, {}, {}, ["192.0.2.50", "", "255.255.255.0"], ADDRESS_OK,
         "当前设置：IP：192.0.2.50，子网掩码：255.255.255.0，网关：无", "green", ["3"], DNS_OK,
         "当前DNS：119.29.29.29", "green"),
        # Stored for when the cable is in, judged without waiting.
        ("an unplugged cable", {"up": False}, {}, {}, STATIC, ADDRESS_OK,
         STATIC_50 + "（网络未连接，连接后生效）", "green", ["2"], DNS_OK, "当前DNS：114.114.114.114",
         "green"),
        # No DHCP server answers: an automatic private address, after the wait.
        ("no DHCP server", {"lease": harness.Lease("169.254.7.9", "255.255.0.0")}, {}, {}, ["0"],
         "", "当前设置：自动获取IP地址，IP：169.254.7.9（未获得DHCP地址）", "red", ["1"],
         DNS_AUTO_OK, "当前DNS：自动获取", "green"),
    ]

    def test_each_step_reports_what_it_reads_back(self):
        for label, settings, modes, replies, address_lines, address_message, address_line, \
                address_colour, dns_lines, dns_message, dns_line, dns_colour in self.STEPS:
            adapters = three_adapters()
            adapters[0].dhcp = settings.get("dhcp", False)
            adapters[0].auto_dns = settings.get("auto_dns", False)
            adapters[0].more = settings.get("more", [])
            adapters[0].up = settings.get("up", True)
            lease = settings.get("lease")
            with self.subTest(label), Scenario(adapters, stored=True, modes=modes,
                                               replies=replies, lease=lease) as s:
                self.choose(s, "1")
                for line in address_lines:
                    s.type_line(line)
                # The menu comes after the read-back line: once it is there, so is the line.
                screen = self.wait_menu(s)
                if address_lines == ["0"]:
                    # After netsh's words, or the sign of waiting for a lease.
                    row = self.row_of(screen, ADDRESS_PROMPT)[0]
                    if lease:
                        row = self.row_of(screen, "正在等待设置生效")[0]
                    if address_message:
                        row += 1
                        self.assertEqual(screen.text(row), address_message, f"\n{screen}")
                else:
                    row = self.assert_row_from(screen, address_message, "")
                    self.assert_coloured(screen, address_message, "yellow")
                read_back = self.assert_read_back(screen, address_line, address_colour, row)
                self.assert_menu_rows(screen, read_back + 1)
                for line in dns_lines:
                    s.type_line(line)
                screen = s.wait_for(dns_line, 1 + screen.count(dns_line))
                row = self.assert_row_from(screen, dns_message, "")
                self.assert_read_back(screen, dns_line, dns_colour, row)
                self.assertEqual(len(s.netsh_calls()), 2)
                self.assertEqual(screen.count("正在等待设置生效"), 1 if lease else 0,
                                 f"\n{screen}")
                self.assert_waits_for_final_line(s)

    def test_a_stored_address_that_windows_does_not_use_is_waited_for_then_reported(self):
        # An address another machine uses: netsh stores it and exits 0, Windows does not use it.
        with Scenario(three_adapters(), stored=True, mode="stored") as s:
            self.choose(s, "1")
            self.static_address(s, *self.STATIC)
            start = time.monotonic()
            screen = s.wait_for("正在等待设置生效")
            self.assert_coloured(screen, "正在等待设置生效", "yellow")
            line = self.STATIC_50 + "（未生效，正在使用：192.0.2.10）"
            screen = s.wait_for(line)
            # The program waits about 10 s by its own clock, from after the line above, reading
            # every 200 ms: at most 50 reads, fewer under load, so only the bounds that load
            # cannot move are checked.
            self.assertGreaterEqual(time.monotonic() - start, 9)
            row = self.assert_row_from(screen, ADDRESS_FAILED + "设置未生效。", "")
            self.assertRegex(screen.text(row - 1), r"^正在等待设置生效\.{1,50}$")
            self.assert_read_back(screen, line, "red", row)


class Restore(DialogueTest):
    """The settings shown before a change are put back in one step at the last pause, with the
    commands that restore them, against the model of Windows."""

    PROMPT = "输入R恢复修改前的设置，直接回车结束："
    SET_STATIC = 'netsh interface ip set address name="以太网 2" static 192.0.2.10 255.255.255.0 ' \
                 '192.0.2.1 1'
    SET_DHCP = 'netsh interface ip set address name="以太网 2" source=dhcp'
    DEFAULT_DNS = ['netsh interface ip set dns name="以太网 2" static 192.0.2.53',
                   'netsh interface ip add dns name="以太网 2" 198.51.100.53 index=2']
    REFUSED = ["1&2", "", ""]  # an address step that runs nothing

    # label, first adapter on DHCP, the scenario's DNS servers, address lines, DNS lines, the
    # answer at the last pause (None: no question), reply per netsh call, message, the lines'
    # colour, the restore's commands, the address stored afterwards.
    CASES = [
        ("static, then DHCP, restored", False, harness.DEFAULT_DNS, ["0"], ["1"], "R", {},
         "已恢复修改前的设置。", "green", [SET_STATIC, *DEFAULT_DNS], "192.0.2.10"),
        ("DHCP, then static, restored", True, harness.DEFAULT_DNS, ReadBack.STATIC, ["3"], "r",
         {}, "已恢复修改前的设置。", "green", [SET_DHCP, *DEFAULT_DNS], "0.0.0.0"),
        ("DNS restored in order", False, ["8.8.8.8", "8.8.4.4"], REFUSED, ["2"], "R", {},
         "已恢复修改前的设置。", "green",
         ['netsh interface ip set dns name="以太网 2" static 8.8.8.8',
          'netsh interface ip add dns name="以太网 2" 8.8.4.4 index=2'], "192.0.2.10"),
        # The address part refused, the DNS part is put back all the same.
        ("restore refused", False, harness.DEFAULT_DNS, ReadBack.STATIC, ["2"], "R",
         {3: Reply(gbk("拒绝访问。\r\n"), 1)}, "恢复失败：拒绝访问。（DNS已恢复）", "red",
         [SET_STATIC, *DEFAULT_DNS], "192.0.2.50"),
        ("R never typed", False, harness.DEFAULT_DNS, ["0"], ["2"], "", {}, None, None, [],
         "0.0.0.0"),
        ("nothing changed", False, harness.DEFAULT_DNS, REFUSED, ["4", "192.0.2.53,x"], None, {},
         None, None, [], "192.0.2.10"),
    ]

    def test_the_settings_before_the_change_come_back_in_one_step(self):
        for label, dhcp, dns, address_lines, dns_lines, answer, replies, message, colour, \
                commands, address in self.CASES:
            adapters = three_adapters()
            adapters[0].dhcp = dhcp
            modes = {number: "claim" for number in replies}
            with self.subTest(label), Scenario(adapters, stored=True, dns=dns, replies=replies,
                                               modes=modes) as s:
                screen = self.choose(s, "1")
                # The snapshot, in cyan, right after the choice.
                row = self.row_of(screen, CHOSEN)[0] + 1
                self.assertEqual(screen.colours(row, 0, 4), {"cyan"}, screen.coloured())
                before = [screen.text(row), screen.text(row + 1)]
                self.assertEqual(before[1], "当前DNS：" + "，".join(dns))
                for line in address_lines:
                    s.type_line(line)
                self.wait_menu(s)
                for line in dns_lines:
                    s.type_line(line)
                self.wait_dns_result(s)
                changes = len(s.netsh_calls())
                if answer is None:
                    self.assert_waits_for_final_line(s)
                    self.assertEqual(s.last_screen.count(self.PROMPT), 0)
                else:
                    self.assert_coloured(s.wait_for(self.PROMPT), self.PROMPT, "yellow")
                    s.type_line(answer)
                    if message is None:
                        self.assertEqual(s.wait_exit(), 0)
                    else:
                        screen = self.wait_lines_after(s, message)
                        row = self.assert_row_from(screen, message, "")
                        self.assert_coloured(screen, message, "yellow")
                        shown = [screen.text(row + 1), screen.text(row + 2)]
                        if colour == "green":  # a lease may differ from the one before
                            self.assertEqual(shown[1 if dhcp else 0:], before[1 if dhcp else 0:])

                        self.assertEqual(screen.colours(row + 1, 0, 4), {colour})
                        self.assert_waits_for_final_line(s)
                self.assertEqual(s.netsh_calls()[changes:], [gbk(c) for c in commands])
                self.assertEqual(s.stored_settings(adapters[0])["IPAddress"], [address])
                if label == "DNS restored in order":
                    self.assertEqual(s.live_dns(), dns)


class Remote(DialogueTest):
    """Over SSH a change is made on probation: kept with Y, else put back, by the program or, once
    it is gone, by its guard, a process of its own. The window is the shortest there is."""

    SSH = {"SSH_CONNECTION": "198.51.100.99 50000 192.0.2.10 22", "IPMOD_CONFIRM_SECONDS": "10"}
    NOTICE = "远程会话：修改后若10秒内没有应答，将自动恢复修改前的设置。"
    QUESTION = "输入Y保留新设置，输入R恢复修改前的设置（10秒内无应答将自动恢复）："
    RESTORE = gbk('netsh interface ip set address name="以太网 2" static 192.0.2.10 '
                  '255.255.255.0 192.0.2.1 1')

    def scenario(self, remote=True):
        """A scenario over SSH (or not), and its first connection, whose DNS is automatic so
        that only the address differs after `change`."""
        adapters = three_adapters()
        adapters[0].auto_dns = True
        return Scenario(adapters, stored=True, environment=self.SSH if remote else {}), adapters[0]

    def change(self, s, remote=True, to_question=False):
        """Gives the first connection 192.0.2.50; the DNS menu is then shown or, to_question,
        DNS is left automatic and the question at the last pause is shown."""
        screen = self.choose(s, "1")
        self.assertEqual(screen.count(self.NOTICE), 1 if remote else 0, f"\n{screen}")
        if remote:
            self.assert_coloured(screen, self.NOTICE, "yellow")
            self.assertEqual(screen.text(self.row_of(screen, self.NOTICE)[0] + 1),
                             "恢复记录：" + harness.windows_path(s.account_path))
        self.static_address(s, "192.0.2.50", "192.0.2.1", "255.255.255.0")
        screen = self.wait_menu(s)
        if to_question:
            s.type_line("1")
            screen = s.wait_for(self.QUESTION)
        return screen

    def assert_settings(self, s, adapter, address):
        self.assertEqual(s.stored_settings(adapter)["IPAddress"], [address])
        self.assertEqual(s.live_settings(adapter).addresses, [address + "/24"])

    def test_y_keeps_the_change(self):
        s, adapter = self.scenario()
        with s:
            self.change(s, to_question=True)
            s.type_line("y")
            self.assert_coloured(s.wait_for("已保留新设置。"), "已保留新设置。", "green")
            # The guard has ended without a word: only the program runs.
            harness.poll(lambda: list(s.program_processes().values()) == [False],
                         "the guard to end")
            self.assert_settings(s, adapter, "192.0.2.50")
            self.assertFalse(os.path.exists(s.account_path))
            self.assert_waits_for_final_line(s)

    def test_no_answer_restores_and_reports(self):
        s, adapter = self.scenario()
        with s:
            self.change(s)
            start = time.monotonic()  # the window opens once the question is shown, after this
            s.type_line("1")
            s.wait_for(self.QUESTION)
            s.key("Up", "Left")  # keys that type nothing begin no answer
            s.wait_for("已恢复修改前的设置。")
            self.assertGreaterEqual(time.monotonic() - start, 9)
            screen = self.wait_lines_after(s, "已恢复修改前的设置。")
            self.assert_coloured(screen, "已超时，正在恢复修改前的设置。", "yellow")
            row = self.assert_row_from(screen, "已恢复修改前的设置。", "")
            self.assert_read_back(screen, ReadBack.STATIC_10, "green", row)
            self.assertEqual(s.netsh_calls()[-1], self.RESTORE)
            self.assert_settings(s, adapter, "192.0.2.10")
            self.assert_waits_for_final_line(s)

    def test_a_killed_program_is_restored_by_its_guard(self):
        s, adapter = self.scenario()
        with s:
            self.change(s)
            s.kill_program()
            text = self.account(s)
            self.assertIn(self.RESTORE + b"\r\n" + gbk("已恢复修改前的设置。\r\n") +
                          gbk(ReadBack.STATIC_10), text)
            self.assertEqual(s.netsh_calls()[-1], self.RESTORE)
            self.assert_settings(s, adapter, "192.0.2.10")

    def test_a_restore_cut_short_is_finished_by_the_guard(self):
        # The program's own restore never ends its first command (call 3), and the program dies
        # during it; its folder's name holds the guard's switch too.
        s, adapter = self.scenario()
        s.environment["FAKE_NETSH_SLEEP_MS_3"] = "4294967295"
        s.app = os.path.join(s.directory, "tools --guard x")
        with s:
            self.change(s)
            s.type_line("2")
            s.wait_for(self.QUESTION)
            s.type_line("R")
            harness.poll(lambda: len(s.netsh_calls()) == 3, "the restore's first command")
            s.kill_program()
            text = self.account(s)
            dns = gbk('netsh interface ip set dns name="以太网 2" source=dhcp')
            self.assertIn(self.RESTORE + b"\r\n" + dns + b"\r\n" + gbk("已恢复修改前的设置。"), text)
            self.assertEqual(s.netsh_calls()[3:], [self.RESTORE, dns])
            self.assert_settings(s, adapter, "192.0.2.10")

    def account(self, s):
        """The guard's account, once it holds the settings it put back."""
        def written():
            if not os.path.exists(s.account_path):
                return None
            with open(s.account_path, "rb") as log:
                text = log.read()
            return text if gbk(ReadBack.STATIC_10) in text else None
        return harness.poll(written, "the guard's account of its restore")

    def test_no_guard_in_a_local_session(self):
        s, adapter = self.scenario(remote=False)
        with s:
            self.assertEqual(self.change(s, remote=False).count("远程会话"), 0)
            self.assertEqual(list(s.program_processes().values()), [False])


if __name__ == "__main__":
    unittest.main()


class History(DialogueTest):
    """The settings from before a change outlive the program: a later run offers them, and "R1"
    puts them back."""

    def test_a_later_run_puts_the_settings_of_before_back(self):
        adapters = three_adapters()
        with Scenario(adapters, stored=True) as s:
            self.choose(s, "1")
            s.type_line("0")
            self.wait_menu(s)
            s.type_line("2")
            s.wait_for(Restore.PROMPT)
            s.type_line("")
            self.assertEqual(s.wait_exit(), 0)
            s.run_again()
            screen = self.choose(s, "1")
            row, _ = self.row_of(screen, "R1 ")
            self.assertRegex(screen.text(row), r"^R1 \d{4}-\d\d-\d\d \d\d:\d\d 当前设置：IP："
                             r"192\.0\.2\.10，子网掩码：255\.255\.255\.0，网关：192\.0\.2\.1$")
            self.assertEqual(screen.text(row + 1), "   当前DNS：192.0.2.53，198.51.100.53")
            self.assertEqual(screen.colours(row, 0, 2), {"cyan"}, screen.coloured())
            self.assert_row_from(screen, "输入R1可恢复以前的设置。", "")
            self.assert_coloured(screen, "输入R1可恢复以前的设置。", "yellow")
            s.type_line("r1")
            s.wait_for(Restore.PROMPT)
            s.type_line("")
            self.assertEqual(s.wait_exit(), 0)
            stored = s.stored_settings(adapters[0])
            self.assertEqual((stored["EnableDHCP"], stored["IPAddress"], stored["NameServer"]),
                             (0, ["192.0.2.10"], "192.0.2.53,198.51.100.53"))
            self.assertEqual(s.live_settings(adapters[0]).addresses, ["192.0.2.10/24"])
            self.assertEqual(s.live_dns(), list(harness.DEFAULT_DNS))
