#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 the KR470A firmware update tools team.
# Identifies the KR470A instruments of one host (a dry run of kr470-fleet:
# "*IDN?" and nothing else) and says for each whether an update file is due.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r'''
module: facts
short_description: Identify the KR470A instruments of a host
description:
  - Asks each instrument of the host C(*IDN?), through
    C(kr470-fleet --dry-run), and sets the fact C(kr470_instrument_facts)
    with the maker, model, serial number and revision of each address, and
    whether the update file would update it.
  - Nothing but C(*IDN?) is sent, so the module runs the same in check
    mode and never reports a change.
  - The dry run checks the identification against an update file, which
    must be on the host (copy it first, as for M(kr470.instruments.firmware)).
  - An instrument that could not be identified is listed with null fields
    and its reason, with a warning; the task fails only when C(kr470-fleet)
    refuses the plan.
version_added: 1.0.0
author: KR470A firmware update tools team
extends_documentation_fragment:
  - kr470.instruments.fleet
options:
  update_file:
    description:
      - The update file on the host (an absolute path) whose model and
        revision the instruments are compared with.
    type: path
    required: true
'''

EXAMPLES = r'''
# lab_instruments, a host variable: [{address: ASRL1::INSTR}, {address: TCPIP0::10.1.0.7::5025::SOCKET}]
- name: Identify the instruments of the lab PC
  kr470.instruments.facts:
    instruments: "{{ lab_instruments }}"
    update_file: /srv/kr470/KR470A_105.INI

- name: Update the lab PCs where an update is due
  kr470.instruments.firmware:
    instruments: "{{ lab_instruments }}"
    update_file: /srv/kr470/KR470A_105.INI
  when: ansible_facts.kr470_instrument_facts | selectattr('update_due') | list | length > 0
'''

RETURN = r'''
ansible_facts:
  description: The facts the module sets.
  returned: always
  type: complex
  contains:
    kr470_instrument_facts:
      description: Each instrument, in the order given.
      returned: always
      type: list
      elements: dict
      contains:
        address:
          description: The instrument's address.
          type: str
          sample: ASRL1::INSTR
        identification:
          description: Its whole C(*IDN?) reply; null when it gave none.
          type: str
          sample: Velmora,KR470A,SN470001,1.04-2.10-0.9
        maker:
          description: The first field of the identification.
          type: str
          sample: Velmora
        model:
          description: The second field.
          type: str
          sample: KR470A
        serial:
          description: The third field, the serial number.
          type: str
          sample: SN470001
        revision:
          description: The firmware revision, the first part of the fourth field (as the update's revision is compared).
          type: str
          sample: "1.04"
        update_due:
          description: Whether the firmware module would update the instrument with the update file.
          type: bool
          sample: true
        result:
          description: The dry run's result, C(ready) (an update is due), C(current), C(refused) or C(failed).
          type: str
          sample: ready
        message:
          description: Why, for every result but C(ready); else null.
          type: str
          sample: already at the update's revision
        log:
          description: The instrument's log on the host.
          type: str
          sample: /home/lab/fleet-logs/01-ASRL1__INSTR.log
'''

from ansible.module_utils.basic import AnsibleModule
from ansible_collections.kr470.instruments.plugins.module_utils import fleet


def main():
    module = AnsibleModule(argument_spec=fleet.COMMON_ARGUMENT_SPEC, supports_check_mode=True,
                           **fleet.COMMON_CHOICE)
    policy = dict((key, module.params[key]) for key in ('jobs', 'reply_timeout_ms'))
    rc, stderr, instruments = fleet.run_fleet(module, True, policy)
    if not instruments:
        module.fail_json(msg=fleet.task_outcome(instruments, rc, stderr, True)['msg'], rc=rc)
    facts = [fleet.instrument_facts(instrument) for instrument in instruments]
    for fact in facts:
        if fact['identification'] is None:
            module.warn('{0} was not identified: {1}'.format(fact['address'], fact['message']))
    # No rc here: Ansible takes a nonzero one for a failure, and an instrument
    # that does not answer is a fact, not a failure of the task.
    module.exit_json(changed=False, ansible_facts=dict(kr470_instrument_facts=facts))


if __name__ == '__main__':
    main()
