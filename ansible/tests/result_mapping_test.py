#!/usr/bin/env python3
# What the collection's modules make of kr470-fleet's report: changed, failed
# and msg of a task, the plan rows they write, the command line and the
# identification's fields. Plain Python: the mapping imports nothing from Ansible.
import importlib.util
import json
import pathlib
import sys
import unittest

sys.dont_write_bytecode = True  # nothing written beside the collection's sources
FLEET_PY = (pathlib.Path(__file__).resolve().parent.parent / 'ansible_collections' / 'kr470' /
            'instruments' / 'plugins' / 'module_utils' / 'fleet.py')
loader_spec = importlib.util.spec_from_file_location('fleet', FLEET_PY)
fleet = importlib.util.module_from_spec(loader_spec)
loader_spec.loader.exec_module(fleet)

BEFORE = 'Velmora,KR470A,SN470001,1.04-2.10-0.9'
AFTER = 'Velmora,KR470A,SN470001,1.05-2.10-0.9'


def entry(address, result, message=None, before=BEFORE, after=None):
    return dict(address=address, update_file='/srv/u.ini', idn_before=before, idn_after=after,
                result=result, message=message, passes=1, seconds=1.5, download_mode=False,
                log='/logs/01-x.log')


def outcome(entries, rc, dry_run=False, stderr=''):
    instruments = [fleet.instrument_result(e, dry_run) for e in entries]
    return instruments, fleet.task_outcome(instruments, rc, stderr, dry_run)


class TaskOutcomeTest(unittest.TestCase):
    def test_two_updated_and_one_current_change_the_task_without_failing_it(self):
        instruments, result = outcome([entry('ASRL1::INSTR', 'updated', after=AFTER),
                                       entry('ASRL2::INSTR', 'updated', after=AFTER),
                                       entry('T', 'current', "already at the update's revision")], 0)
        self.assertEqual(result, dict(changed=True, failed=False, msg='2 updated, 1 current'))
        self.assertEqual([i['changed'] for i in instruments], [True, True, False])
        self.assertEqual(instruments[0]['after'], AFTER)

    def test_three_current_instruments_leave_the_task_unchanged(self):
        _, result = outcome([entry(str(n), 'current', 'already') for n in range(3)], 0)
        self.assertEqual(result, dict(changed=False, failed=False, msg='3 current'))

    def test_one_failed_of_three_fails_the_task_naming_it_and_its_reason_and_keeps_the_change(self):
        instruments, result = outcome([entry('A', 'updated', after=AFTER),
                                       entry('B', 'failed', 'Checksum failed.'),
                                       entry('C', 'refused', 'wrong serial number')], 1)
        self.assertTrue(result['failed'])
        self.assertTrue(result['changed'])
        self.assertEqual(result['msg'], '2 of 3 instruments not updated: B: failed (Checksum failed.); '
                                        'C: refused (wrong serial number)')
        self.assertEqual(len(instruments), 3)

    def test_an_unconfirmed_commit_fails_the_task_and_still_counts_as_a_change(self):
        _, result = outcome([entry('A', 'unconfirmed', 'no answer after the commit')], 1)
        self.assertEqual((result['changed'], result['failed']), (True, True))

    def test_in_check_mode_1_ready_would_change_and_1_current_would_not(self):
        instruments, result = outcome([entry('A', 'ready'), entry('B', 'current', 'already')], 0,
                                      dry_run=True)
        self.assertEqual(result, dict(changed=True, failed=False, msg='1 ready, 1 current'))
        self.assertEqual([i['changed'] for i in instruments], [True, False])

    def test_in_check_mode_an_unreachable_instrument_fails_the_task(self):
        _, result = outcome([entry('A', 'ready'), entry('B', 'failed', 'Connection refused', before=None)],
                            1, dry_run=True)
        self.assertTrue(result['failed'])
        self.assertIn('1 of 2 instruments not ready: B: failed (Connection refused)', result['msg'])

    def test_status_4_with_every_instrument_updated_still_fails_with_what_the_tool_said(self):
        _, result = outcome([entry('A', 'updated', after=AFTER)], 4,
                            stderr='kr470-fleet: the JSON report was not written: No space left on device\n')
        self.assertEqual((result['changed'], result['failed']), (True, True))
        self.assertEqual(result['msg'], 'kr470-fleet ended with status 4: kr470-fleet: the JSON report '
                                        'was not written: No space left on device')

    def test_a_refused_plan_with_no_report_fails_with_the_last_lines_of_standard_error(self):
        _, result = outcome([], 2, stderr='kr470-fleet: a.plan:2: x\nkr470-fleet: two rows\n')
        self.assertEqual(result, dict(changed=False, failed=True, msg='kr470-fleet ended with status 2: '
                                      'kr470-fleet: a.plan:2: x / kr470-fleet: two rows'))


class ReportTest(unittest.TestCase):
    PROGRESS = json.dumps(dict(address='A', state='downloading', **{'pass': 1}, lines=40, of=120))

    def test_the_report_file_is_read_before_the_printed_lines(self):
        report = json.dumps(dict(instruments=[entry('A', 'updated')], exit_status=0))
        printed = json.dumps(entry('A', 'failed'))
        self.assertEqual([e['result'] for e in fleet.report_entries(report, printed)], ['updated'])

    def test_without_a_report_file_the_printed_report_lines_are_read_and_progress_lines_skipped(self):
        printed = '\n'.join([self.PROGRESS, json.dumps(entry('A', 'updated')), 'not json',
                             json.dumps(entry('B', 'failed'))])
        for report in (None, '{"instruments": [', '[]'):
            self.assertEqual([e['address'] for e in fleet.report_entries(report, printed)], ['A', 'B'])


class PlanTest(unittest.TestCase):
    def test_every_field_is_quoted_with_its_quotes_and_backslashes_escaped(self):
        text = fleet.plan_text([dict(address='ASRL/dev/serial/by-id/usb-Lab Adapter_B2::INSTR', serial=None),
                                dict(address='GPIB0::12', serial='SN "4"\\7')], '/srv/fw #1/U.INI')
        rows = text.splitlines()
        self.assertTrue(rows[0].startswith('#'))
        self.assertEqual(rows[1:], ['"ASRL/dev/serial/by-id/usb-Lab Adapter_B2::INSTR" "/srv/fw #1/U.INI"',
                                    '"GPIB0::12" "/srv/fw #1/U.INI" "SN \\"4\\"\\\\7"'])

    def test_an_address_starting_with_two_dashes_stays_a_plan_field(self):
        row = fleet.plan_text([dict(address='--yes-older-update', serial=None)], '/u.ini').splitlines()[1]
        self.assertEqual(row, '"--yes-older-update" "/u.ini"')

    def test_a_line_break_an_empty_field_or_no_instrument_is_refused(self):
        for instruments in ([dict(address='A\nB', serial=None)], [dict(address='', serial=None)], []):
            with self.assertRaises(fleet.PlanError):
                fleet.plan_text(instruments, '/u.ini')

    def test_the_single_address_is_one_instrument_without_a_serial_number(self):
        self.assertEqual(fleet.task_instruments(dict(address='ASRL1', instruments=None)),
                         [dict(address='ASRL1', serial=None)])


class CommandLineTest(unittest.TestCase):
    def test_the_defaults_add_only_the_plan_report_and_logs(self):
        policy = dict(same_revision=False, older_update=False, strict=True, retry_passes=None, jobs=None,
                      reply_timeout_ms=None)
        self.assertEqual(fleet.fleet_arguments('/usr/bin/kr470-fleet', '/l', False, policy),
                         ['/usr/bin/kr470-fleet', '--plan', '/l/kr470-fleet.plan',
                          '--json', '/l/kr470-fleet.json', '--log-dir', '/l'])

    def test_every_answer_given_becomes_its_option_and_check_mode_a_dry_run(self):
        policy = dict(same_revision=True, older_update=True, strict=False, retry_passes=2, jobs=3,
                      reply_timeout_ms=1500)
        self.assertEqual(fleet.fleet_arguments('f', '/l', True, policy)[7:],
                         ['--dry-run', '--yes-same-revision', '--yes-older-update', '--no-strict',
                          '--retry-passes', '2', '--jobs', '3', '--reply-timeout-ms', '1500'])


class IdentityTest(unittest.TestCase):
    def test_the_four_fields_give_maker_model_serial_and_the_first_revision(self):
        self.assertEqual(fleet.identity('Velmora,KR470A, SN470001 ,1.04-2.10-0.9'),
                         dict(maker='Velmora', model='KR470A', serial='SN470001', revision='1.04'))

    def test_a_short_or_missing_identification_leaves_the_missing_fields_null(self):
        self.assertEqual(fleet.identity('Velmora,loader'),
                         dict(maker='Velmora', model='loader', serial=None, revision=None))
        self.assertEqual(fleet.identity(None), dict(maker=None, model=None, serial=None, revision=None))

    def test_facts_say_an_update_is_due_only_for_a_ready_instrument(self):
        ready, current = (fleet.instrument_facts(fleet.instrument_result(e, True))
                          for e in (entry('A', 'ready'), entry('B', 'current', 'already')))
        self.assertEqual((ready['update_due'], current['update_due']), (True, False))
        self.assertEqual((ready['serial'], ready['revision'], ready['identification']), ('SN470001', '1.04', BEFORE))


class DiffTest(unittest.TestCase):
    def test_only_changed_instruments_show_their_identification_before_and_after(self):
        instruments = [fleet.instrument_result(e, False)
                       for e in (entry('A', 'updated', after=AFTER), entry('B', 'current', 'already'))]
        self.assertEqual(fleet.identification_diff(instruments, False, '/u.ini'),
                         [dict(before_header='A', after_header='A', before=BEFORE + '\n', after=AFTER + '\n')])

    def test_in_check_mode_the_after_side_names_the_update_file(self):
        instruments = [fleet.instrument_result(entry('A', 'ready'), True)]
        self.assertEqual(fleet.identification_diff(instruments, True, '/u.ini')[0]['after'],
                         '(would be updated with /u.ini)\n')


if __name__ == '__main__':
    unittest.main()
