# -*- coding: utf-8 -*-
# Copyright 2026 the KR470A firmware update tools team.
"""What the modules of this collection give kr470-fleet and what its report
means for a task.

A task's instruments become a plan file in the task's log folder (so an
address can never be taken for an option, and a serial number goes with its
row); kr470-fleet runs on it with --json, and its report becomes the task's
result: which instruments changed, which failed and why. The mapping from the
report to changed, failed and msg imports nothing from Ansible, so it is
tested as plain Python.
"""

from __future__ import absolute_import, division, print_function

__metaclass__ = type

import json
import os
import tempfile

PLAN_NAME = 'kr470-fleet.plan'
REPORT_NAME = 'kr470-fleet.json'

# The results that count as done, and those that changed an instrument (a
# commit whose identification afterwards disagrees still wrote the firmware).
DONE = {False: ('updated', 'current'), True: ('ready', 'current')}
CHANGING = {False: ('updated', 'unconfirmed'), True: ('ready',)}

# The options every module of the collection takes, with their types.
COMMON_ARGUMENT_SPEC = dict(
    address=dict(type='str'),
    instruments=dict(
        type='list',
        elements='dict',
        options=dict(address=dict(type='str', required=True), serial=dict(type='str')),
    ),
    update_file=dict(type='path', required=True),
    log_dir=dict(type='path', default='~/fleet-logs'),
    executable=dict(type='path'),
    io_config=dict(type='path'),
    jobs=dict(type='int'),
    reply_timeout_ms=dict(type='int'),
)
COMMON_CHOICE = dict(
    mutually_exclusive=[('address', 'instruments')],
    required_one_of=[('address', 'instruments')],
)


class PlanError(Exception):
    """A value that no plan row can carry."""


def plan_field(text, what):
    """One field of a plan row, quoted: a quote and a backslash escaped."""
    if text == '':
        raise PlanError('{0} is empty'.format(what))
    if any(c in text for c in '\n\r\0'):
        raise PlanError('{0} holds a line break or a NUL: {1!r}'.format(what, text))
    return '"' + text.replace('\\', '\\\\').replace('"', '\\"') + '"'


def task_instruments(params):
    """The task's instruments as dicts with address and serial (None when
    not given), from `instruments` or the single `address`."""
    if params.get('instruments') is None:
        return [dict(address=params['address'], serial=None)]
    return [dict(address=i['address'], serial=i.get('serial')) for i in params['instruments']]


def plan_text(instruments, update_file):
    """The plan kr470-fleet reads: one row an instrument."""
    if not instruments:
        raise PlanError('no instrument is named')
    rows = ['# Written for one task of the kr470.instruments collection; the next replaces it.']
    for number, instrument in enumerate(instruments, 1):
        where = 'the address of instrument {0}'.format(number)
        fields = [plan_field(instrument['address'], where),
                  plan_field(update_file, 'update_file')]
        if instrument.get('serial'):
            fields.append(plan_field(instrument['serial'], 'the serial of instrument {0}'.format(number)))
        rows.append(' '.join(fields))
    return '\n'.join(rows) + '\n'


def fleet_arguments(executable, log_dir, dry_run, policy):
    """kr470-fleet's command line for the plan and report in `log_dir`.
    `policy` holds the task's answers; a missing or None one is the tool's
    default."""
    arguments = [executable, '--plan', os.path.join(log_dir, PLAN_NAME),
                 '--json', os.path.join(log_dir, REPORT_NAME), '--log-dir', log_dir]
    if dry_run:
        arguments.append('--dry-run')
    if policy.get('same_revision'):
        arguments.append('--yes-same-revision')
    if policy.get('older_update'):
        arguments.append('--yes-older-update')
    if policy.get('strict') is False:
        arguments.append('--no-strict')
    for option, key in (('--retry-passes', 'retry_passes'), ('--jobs', 'jobs'),
                        ('--reply-timeout-ms', 'reply_timeout_ms')):
        if policy.get(key) is not None:
            arguments += [option, str(policy[key])]
    return arguments


def write_plan(log_dir, text):
    """Puts the plan in `log_dir` whole (written aside, then renamed)."""
    descriptor, path = tempfile.mkstemp(prefix='.plan-', dir=log_dir)
    try:
        with os.fdopen(descriptor, 'w') as plan:
            plan.write(text)
        os.replace(path, os.path.join(log_dir, PLAN_NAME))
    except Exception:
        os.unlink(path)
        raise


def report_entries(report_text, stdout):
    """The per-instrument objects of a run: the --json report's when the
    run wrote one, else those kr470-fleet printed (one object a line after
    its progress lines, which carry no result)."""
    if report_text is not None:
        try:
            return json.loads(report_text)['instruments']
        except (ValueError, KeyError, TypeError):
            pass
    entries = []
    for line in stdout.splitlines():
        try:
            entry = json.loads(line)
        except ValueError:
            continue
        if isinstance(entry, dict) and 'result' in entry:
            entries.append(entry)
    return entries


def instrument_result(entry, dry_run):
    """One instrument as a task returns it."""
    result = entry.get('result')
    return dict(
        address=entry.get('address'),
        before=entry.get('idn_before'),
        after=entry.get('idn_after'),
        result=result,
        message=entry.get('message'),
        passes=entry.get('passes'),
        seconds=entry.get('seconds'),
        download_mode=bool(entry.get('download_mode')),
        log=entry.get('log') or None,
        changed=result in CHANGING[dry_run],
    )


def counted(instruments):
    """'2 updated, 1 current': how many instruments ended each way, in the
    order they first appear."""
    counts = {}
    for instrument in instruments:
        counts[instrument['result']] = counts.get(instrument['result'], 0) + 1
    return ', '.join('{0} {1}'.format(n, result) for result, n in counts.items())


def last_lines(text, count=3):
    return ' / '.join(line for line in text.strip().splitlines()[-count:])


def task_outcome(instruments, rc, stderr, dry_run):
    """changed, failed and msg of a task from its instruments' results and
    kr470-fleet's exit status."""
    not_done = [i for i in instruments if i['result'] not in DONE[dry_run]]
    changed = any(i['changed'] for i in instruments)
    if not_done:
        reasons = '; '.join('{0}: {1} ({2})'.format(i['address'], i['result'], i['message'] or 'no reason given')
                            for i in not_done)
        verb = 'ready' if dry_run else 'updated'
        msg = '{0} of {1} instruments not {2}: {3}'.format(len(not_done), len(instruments), verb, reasons)
        return dict(changed=changed, failed=True, msg=msg)
    if rc != 0 or not instruments:
        msg = 'kr470-fleet ended with status {0}: {1}'.format(rc, last_lines(stderr) or 'it said nothing')
        return dict(changed=changed, failed=True, msg=msg)
    return dict(changed=changed, failed=False, msg=counted(instruments))


def identification_diff(instruments, dry_run, update_file):
    """The identification before and after of each instrument that changed
    (or would), as Ansible shows a diff."""
    diffs = []
    for instrument in instruments:
        if not instrument['changed']:
            continue
        after = instrument['after'] or '(no identification after the commit)'
        if dry_run:
            after = '(would be updated with {0})'.format(update_file)
        diffs.append(dict(before_header=instrument['address'], after_header=instrument['address'],
                          before=(instrument['before'] or '') + '\n', after=after + '\n'))
    return diffs


def identity(identification):
    """maker, model, serial and revision of an identification
    ('Velmora,KR470A,SN470001,1.04-2.10-0.9'): the revision is the first
    part of the fourth field, as the update's revision is compared."""
    fields = (identification or '').split(',')
    field = (lambda n: fields[n].strip() if len(fields) > n else None)
    revisions = field(3)
    return dict(maker=field(0) if identification else None, model=field(1), serial=field(2),
                revision=revisions.split('-')[0].strip() if revisions is not None else None)


def instrument_facts(instrument):
    """What the facts say of an instrument after a dry run."""
    facts = dict(address=instrument['address'], identification=instrument['before'])
    facts.update(identity(instrument['before']))
    facts.update(update_due=instrument['result'] == 'ready', result=instrument['result'],
                 message=instrument['message'], log=instrument['log'])
    return facts


def absolute_path(module, name):
    path = module.params[name]
    if not os.path.isabs(path):
        module.fail_json(msg='{0} must be an absolute path on the host, not {1}'.format(name, path))
    return path


def run_fleet(module, dry_run, policy):
    """Runs kr470-fleet for the task's instruments; returns its exit status,
    standard error and the instruments' results."""
    update_file = absolute_path(module, 'update_file')
    log_dir = absolute_path(module, 'log_dir')
    executable = module.params['executable'] or module.get_bin_path('kr470-fleet', required=True)
    try:
        plan = plan_text(task_instruments(module.params), update_file)
    except PlanError as error:
        module.fail_json(msg='no plan can be written: {0}'.format(error))
    report_path = os.path.join(log_dir, REPORT_NAME)
    try:
        if not os.path.isdir(log_dir):
            os.makedirs(log_dir)
        write_plan(log_dir, plan)
        # An earlier run's report must never stand for a run that wrote none.
        if os.path.lexists(report_path):
            os.unlink(report_path)
    except OSError as error:
        module.fail_json(msg='cannot prepare the log folder {0}: {1}'.format(log_dir, error))
    environment = {}
    if module.params['io_config']:
        environment['KIO_CONFIG'] = module.params['io_config']
    rc, stdout, stderr = module.run_command(fleet_arguments(executable, log_dir, dry_run, policy),
                                            environ_update=environment)
    report_text = None
    try:
        with open(report_path) as report:
            report_text = report.read()
    except (IOError, OSError):
        pass  # refused (status 2) or lost (status 4): what it printed is read instead
    entries = report_entries(report_text, stdout)
    return rc, stderr, [instrument_result(entry, dry_run) for entry in entries]
