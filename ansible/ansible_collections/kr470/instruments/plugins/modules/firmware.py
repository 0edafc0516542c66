#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 the KR470A firmware update tools team.
# Updates the KR470A instruments of one host through kr470-fleet; changed only
# when an instrument took the update, a dry run in check mode.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: firmware
short_description: Update the firmware of the KR470A instruments of a host
description:
  - Runs C(kr470-fleet) on the host for its instruments with one update
    file, with the answers to the update procedure's questions given by the
    options, and returns the report of each instrument.
  - An instrument already at the update file's revision is left alone and
    counts as done, so running a play again changes nothing.
  - The update file must already be on the host; the module reads no file
    of the controller. Copy it with M(ansible.builtin.copy) first, in check
    mode too (C(check_mode=false) on that task), so that check mode checks
    the very file, as the examples show.
  - In check mode, C(kr470-fleet --dry-run) identifies each instrument and
    checks the update file (model, revision, code section) without sending
    anything but C(*IDN?); each instrument that would be updated is reported
    changed.
  - A failed, refused or stopped instrument fails the task; C(msg) names
    each with its reason, and the report of every instrument is returned
    all the same.
version_added: 1.0.0
author: KR470A firmware update tools team
extends_documentation_fragment:
  - kr470.instruments.fleet
options:
  update_file:
    description:
      - The update file on the host (an absolute path).
    type: path
    required: true
  same_revision:
    description:
      - Update an instrument that already has the update's revision. When
        false, such an instrument counts as current (done, not changed).
    type: bool
    default: false
  older_update:
    description:
      - Put an older revision on an instrument. When false, such an
        instrument is refused.
    type: bool
    default: false
  retry_passes:
    description:
      - How many times a failed download pass is repeated for each
        instrument.
    type: int
    default: 0
  strict:
    description:
      - Wait for each record's acknowledgement. When false, records are sent
        without waiting (a serial line never waits).
    type: bool
    default: true
notes:
  - Supports C(--diff), which shows the identification of each instrument
    that changed, before and after.
  - A task may take a while, as each instrument's download pass does (a
    minute or more on a serial line). The instruments of one host are
    updated at once unless they share a port or a GPIB controller.
'''

EXAMPLES = r'''
- name: Put the update file on the lab PC, in check mode too
  ansible.builtin.copy:
    src: KR470A_105.INI
    dest: /srv/kr470/KR470A_105.INI
    mode: "0644"
  check_mode: false

- name: Update the instruments of the lab PC
  kr470.instruments.firmware:
    instruments:
      - address: ASRL/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0::INSTR
        serial: SN470001
      - address: TCPIP0::10.1.0.7::5025::SOCKET
    update_file: /srv/kr470/KR470A_105.INI
    log_dir: /srv/kr470/logs
    retry_passes: 1

- name: One instrument, an older revision allowed
  kr470.instruments.firmware:
    address: GPIB0::12
    update_file: /srv/kr470/KR470A_104.INI
    older_update: true
'''

RETURN = r'''
msg:
  description: How the instruments ended (C(2 updated, 1 current)), or each one that failed, with its reason.
  returned: always
  type: str
  sample: "1 of 2 instruments not updated: TCPIP0::10.1.0.7::5025::SOCKET: failed (Checksum failed.)"
rc:
  description: The exit status of C(kr470-fleet) (0 all done, 1 some not, 2 a refused plan, 3 stopped on request, 4 report lost).
  returned: always
  type: int
  sample: 0
instruments:
  description: The report of each instrument, in the order given.
  returned: always
  type: list
  elements: dict
  contains:
    address:
      description: The instrument's address.
      type: str
      sample: ASRL1::INSTR
    before:
      description: Its identification (C(*IDN?)) before the update; null when it gave none.
      type: str
      sample: Velmora,KR470A,SN470001,1.04-2.10-0.9
    after:
      description: Its identification after the commit; null without a commit.
      type: str
      sample: Velmora,KR470A,SN470001,1.05-2.10-0.9
    result:
      description:
        - C(updated) (committed and confirmed), C(unconfirmed) (committed, but the identification after disagrees),
          C(current) (already at the revision), C(ready) (check mode, would be updated), C(refused), C(failed)
          or C(stopped).
      type: str
      sample: updated
    message:
      description: Why, for every result but C(updated) and C(ready); else null.
      type: str
    passes:
      description: Download passes run.
      type: int
      sample: 1
    seconds:
      description: How long the instrument took.
      type: float
      sample: 61.3
    download_mode:
      description: Whether the instrument may be left in download mode (an interrupted pass, never committed).
      type: bool
      sample: false
    log:
      description: The instrument's log on the host; null when none could be written.
      type: str
      sample: /srv/kr470/logs/01-ASRL1__INSTR.log
    changed:
      description: Whether this instrument took the update (in check mode, would take it).
      type: bool
      sample: true
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kr470.instruments.plugins.module_utils import fleet


def main():
    argument_spec = dict(
        fleet.COMMON_ARGUMENT_SPEC,
        same_revision=dict(type='bool', default=False),
        older_update=dict(type='bool', default=False),
        retry_passes=dict(type='int', default=0),
        strict=dict(type='bool', default=True),
    )
    module = AnsibleModule(argument_spec=argument_spec, supports_check_mode=True, **fleet.COMMON_CHOICE)
    policy = dict((key, module.params[key]) for key in (
        'same_revision', 'older_update', 'retry_passes', 'strict', 'jobs', 'reply_timeout_ms'))
    rc, stderr, instruments = fleet.run_fleet(module, module.check_mode, policy)
    outcome = fleet.task_outcome(instruments, rc, stderr, module.check_mode)
    result = dict(outcome, rc=rc, instruments=instruments)
    if module._diff:
        result['diff'] = fleet.identification_diff(instruments, module.check_mode,
                                                   module.params['update_file'])
    if result.pop('failed'):
        module.fail_json(**result)
    module.exit_json(**result)


if __name__ == '__main__':
    main()
