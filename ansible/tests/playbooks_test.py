#!/usr/bin/env python3
# The collection's modules run by ansible-playbook against simulated
# instruments: three lab PCs that are all this machine (local connection), each
# with its own simulators on pseudo-terminals and loopback sockets. Facts, a
# check-mode run that sends only "*IDN?", the real run (updated, failed with the
# reason, current), a second run that changes nothing, and the documentation.
#
# KR470_SIM, KR470_FLEET and KR470_MKUPDATE name the programs. Everything
# Ansible writes stays in the test's temporary folder. Exits with 77 (skipped)
# when ansible-playbook is not installed.
import json
import os
import pathlib
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
COLLECTIONS = HERE.parent
BEFORE = 'Velmora,KR470A,{0},1.04-2.10-0.9'
CURRENT = 'Velmora,KR470A,{0},1.05-2.10-0.9'

# Each lab PC's instruments: (name, serial line or socket, serial number, whether the task
# names the serial number, simulator options).
LAB = {
    'lab1': [('a', 'serial', 'SN470011', True, []),
             ('b', 'serial', 'SN470012', False, []),
             ('c', 'tcp', 'SN470013', False, [])],
    'lab2': [('d', 'tcp', 'SN470021', True, []),
             ('e', 'tcp', 'SN470022', False, ['--bad-checksum-pass', '1', '--bad-checksum-pass', '2'])],
    'lab3': [('f', 'serial', 'SN470031', False, ['--idn', CURRENT.format('SN470031')])],
}


def recap(output):
    """Each host's counts from the PLAY RECAP lines: {'lab1': {'ok': 2, 'changed': 1, ...}}."""
    counts = {}
    for host, numbers in re.findall(r'^(\w+)\s+:\s+(ok=.*)$', output, re.M):
        counts[host] = {key: int(value) for key, value in re.findall(r'(\w+)=(\d+)', numbers)}
    return counts


class PlaybooksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = pathlib.Path(tempfile.mkdtemp(prefix='kr470-ansible-'))
        cls.simulators = []
        try:
            cls.make_update_file()
            cls.inventory = cls.work / 'inventory.yml'
            cls.inventory.write_text(json.dumps(cls.start_lab()))
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for simulator in cls.simulators:  # only the simulators this test started
            simulator.terminate()
            simulator.wait()
            simulator.stdout.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    @classmethod
    def make_update_file(cls):
        controller = cls.work / 'controller'
        controller.mkdir()
        image = cls.work / 'image.srec'
        cls.update_file = controller / 'KR470A_105.INI'
        mkupdate = os.environ['KR470_MKUPDATE']
        subprocess.run([mkupdate, 'gen-image', '--bytes', '3840', '--header', 'KR470A 1.05', '-o', image],
                       check=True, stdout=subprocess.DEVNULL)
        subprocess.run([mkupdate, 'build', '--srec', image, '--revision', '1.05', '-o', cls.update_file],
                       check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def start_simulator(cls, name, face, serial, options):
        """Starts one simulator; returns the address that reaches it."""
        command = [os.environ['KR470_SIM'], '--transcript', cls.work / ('transcript-' + name + '.txt'),
                   '--idn', BEFORE.format(serial)] + options
        link = cls.work / ('tty-' + name)
        command += ['--link', link] if face == 'serial' else ['--tcp', '0']
        simulator = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        cls.simulators.append(simulator)
        first = simulator.stdout.readline().strip()
        if face == 'serial':
            return 'ASRL{0}::INSTR'.format(link)
        return 'TCPIP0::127.0.0.1::{0}::SOCKET'.format(first.split()[1])

    @classmethod
    def start_lab(cls):
        """Starts every lab PC's simulators; returns the inventory."""
        hosts = {}
        cls.addresses = {}
        for host, instruments in LAB.items():
            folder = cls.work / host
            folder.mkdir()
            config = ''
            listed = []
            for name, face, serial, named, options in instruments:
                address = cls.start_simulator(name, face, serial, options)
                cls.addresses[name] = address
                if face == 'serial':
                    config += '[{0}]\nsettings = 2000000,N,8,1\n'.format(address[4:-7])
                listed.append(dict(address=address, serial=serial) if named else dict(address=address))
            (folder / 'kio.ini').write_text(config)
            hosts[host] = dict(kr470_dir=str(folder), kr470_io_config=str(folder / 'kio.ini'),
                               kr470_instruments=listed)
        return {'all': {'children': {'lab': {'hosts': hosts}, 'offline': {'hosts': cls.offline_host()}},
                        'vars': {'ansible_connection': 'local',
                                 'ansible_python_interpreter': '{{ ansible_playbook_python }}',
                                 'kr470_fleet': os.environ['KR470_FLEET']}}}

    @classmethod
    def offline_host(cls):
        """A fourth PC, for the facts only: its instrument's port has nobody listening."""
        with socket.socket() as closed:
            closed.bind(('127.0.0.1', 0))
            port = closed.getsockname()[1]
        cls.addresses['g'] = 'TCPIP0::127.0.0.1::{0}::SOCKET'.format(port)
        folder = cls.work / 'lab4'
        folder.mkdir()
        (folder / 'kio.ini').write_text('')
        return {'lab4': dict(kr470_dir=str(folder), kr470_io_config=str(folder / 'kio.ini'),
                             kr470_instruments=[dict(address=cls.addresses['g'])])}

    def environment(self, tree):
        home = self.work / 'home'
        home.mkdir(exist_ok=True)
        config = self.work / 'ansible.cfg'
        config.write_text('[defaults]\n')
        environment = dict(os.environ)
        environment.update(
            HOME=str(home), ANSIBLE_HOME=str(home / '.ansible'), ANSIBLE_CONFIG=str(config),
            ANSIBLE_LOCAL_TEMP=str(self.work / 'ansible-local'),
            ANSIBLE_REMOTE_TEMP=str(self.work / 'ansible-remote'),
            ANSIBLE_COLLECTIONS_PATH=str(COLLECTIONS), ANSIBLE_COLLECTIONS_SCAN_SYS_PATH='false',
            ANSIBLE_CALLBACKS_ENABLED='tree', ANSIBLE_CALLBACK_TREE_DIR=str(self.work / tree),
            ANSIBLE_NOCOLOR='1', ANSIBLE_RETRY_FILES_ENABLED='false',
            KESTREL_WAIT_LIMIT_MS='0', KR470_LOCK_DIR=str(self.work / 'locks'))
        (self.work / 'locks').mkdir(exist_ok=True)
        return environment

    def play(self, playbook, *options):
        """Runs a playbook; returns its output, the recap and each host's last task result."""
        tree = 'tree-{0}-{1}'.format(pathlib.Path(playbook).stem, len(list(self.work.glob('tree-*'))))
        command = ['ansible-playbook', '-i', str(self.inventory), str(HERE / 'playbooks' / playbook),
                   '-e', 'update_file=' + str(self.update_file)] + list(options)
        run = subprocess.run(command, env=self.environment(tree), cwd=self.work, stdin=subprocess.DEVNULL,
                             stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=600)
        results = {path.name: json.loads(path.read_text()) for path in (self.work / tree).iterdir()}
        return run.stdout, recap(run.stdout), results

    def transcript(self, name):
        return (self.work / ('transcript-' + name + '.txt')).read_text().splitlines()

    def assertRecap(self, output, counts, expected):
        for host, numbers in expected.items():
            self.assertEqual({key: counts[host][key] for key in numbers}, numbers, host + '\n' + output)

    def results(self, host_result):
        return {i['address']: i['result'] for i in host_result['instruments']}

    def test_0_the_documentation_of_both_modules_is_shown_and_the_example_parses(self):
        for module, option in (('firmware', 'same_revision'), ('facts', 'update_file')):
            shown = subprocess.run(['ansible-doc', 'kr470.instruments.' + module], env=self.environment('doc'),
                                   stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
            self.assertEqual(shown.returncode, 0, shown.stdout)
            self.assertIn(option, shown.stdout)
            self.assertIn('log_dir', shown.stdout)  # from the shared fragment
        examples = COLLECTIONS / 'examples'
        checked = subprocess.run(['ansible-playbook', '--syntax-check', '-i', examples / 'inventory.yml',
                                  examples / 'update-firmware.yml'], env=self.environment('syntax'),
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.assertEqual(checked.returncode, 0, checked.stdout)

    def test_1_facts_of_a_serial_and_socket_host_give_model_serial_and_revision_per_address(self):
        output, counts, results = self.play('facts.yml')
        self.assertRecap(output, counts, {host: dict(ok=2, failed=0) for host in LAB})
        lab1 = results['lab1']['ansible_facts']['kr470_instrument_facts']
        self.assertEqual([(i['address'], i['model'], i['serial'], i['revision'], i['update_due']) for i in lab1],
                         [(self.addresses[name], 'KR470A', serial, '1.04', True)
                          for name, _, serial, _, _ in LAB['lab1']])
        lab3 = results['lab3']['ansible_facts']['kr470_instrument_facts']
        self.assertEqual([(i['revision'], i['update_due'], i['result']) for i in lab3], [('1.05', False, 'current')])
        # An instrument that does not answer is a fact with a warning, not a failed task.
        self.assertRecap(output, counts, dict(lab4=dict(ok=2, failed=0)))
        lab4 = results['lab4']['ansible_facts']['kr470_instrument_facts']
        self.assertEqual([(i['identification'], i['model'], i['update_due'], i['result']) for i in lab4],
                         [(None, None, False, 'failed')])
        self.assertIn('[WARNING]: {0} was not identified'.format(self.addresses['g']),
                      ' '.join(output.split()))  # as the warning is wrapped

    def test_2_check_mode_reports_every_instrument_due_as_changed_and_sends_only_idn(self):
        output, counts, results = self.play('firmware.yml', '--check')
        self.assertRecap(output, counts, dict(lab1=dict(ok=2, changed=1, failed=0),
                                              lab2=dict(ok=2, changed=1, failed=0),
                                              lab3=dict(ok=2, changed=0, failed=0)))
        self.assertEqual(self.results(results['lab1']), {self.addresses[n]: 'ready' for n in 'abc'})
        self.assertEqual(self.results(results['lab2']), {self.addresses[n]: 'ready' for n in 'de'})
        for name in 'abcdef':
            self.assertEqual(set(self.transcript(name)), {'*IDN?'}, name)

    def test_3_the_real_run_updates_the_honest_instruments_and_fails_the_bad_checksum_by_name(self):
        output, counts, results = self.play('firmware.yml', '--diff')
        self.assertRecap(output, counts, dict(lab1=dict(ok=2, changed=1, failed=0),
                                              lab2=dict(failed=1), lab3=dict(ok=2, changed=0, failed=0)))
        self.assertEqual(self.results(results['lab1']), {self.addresses[n]: 'updated' for n in 'abc'})
        self.assertEqual(self.results(results['lab2']), {self.addresses['d']: 'updated',
                                                         self.addresses['e']: 'failed'})
        self.assertEqual(self.results(results['lab3']), {self.addresses['f']: 'current'})
        failed = results['lab2']
        self.assertEqual(failed['rc'], 1)
        self.assertRegex(failed['msg'], r'^1 of 2 instruments not updated: {0}: failed \(.*Check Sum does not match'
                         .format(re.escape(self.addresses['e'])))
        for line in ('-' + BEFORE.format('SN470011'), '+' + CURRENT.format('SN470011')):
            self.assertIn(line, output.splitlines())
        self.assertIn('dlo:comp', ' '.join(self.transcript('c')))

    def test_4_a_second_run_changes_nothing_and_every_file_written_is_in_its_place(self):
        output, counts, results = self.play('firmware.yml')
        self.assertRecap(output, counts, dict(lab1=dict(changed=0, failed=0), lab2=dict(changed=0, failed=1),
                                              lab3=dict(changed=0, failed=0)))
        self.assertEqual(set(self.results(results['lab1']).values()), {'current'})
        self.assertEqual(self.results(results['lab2']), {self.addresses['d']: 'current',
                                                         self.addresses['e']: 'failed'})
        # The modules wrote only in their log folders, Ansible only in its own.
        for host in LAB:
            self.assertEqual(sorted(p.name for p in (self.work / host).iterdir()),
                             ['KR470A_105.INI', 'kio.ini', 'logs'])
            logs = sorted(p.name for p in (self.work / host / 'logs').iterdir())
            self.assertEqual(logs[-2:], ['kr470-fleet.json', 'kr470-fleet.plan'])
            self.assertEqual(len(logs), len(LAB[host]) + 2)
        self.assertFalse((self.work / 'fleet-logs').exists())


if __name__ == '__main__':
    if shutil.which('ansible-playbook') is None:
        print('SKIPPED: ansible-playbook is not installed (scripts/setup.sh installs ansible-core)')
        sys.exit(77)
    unittest.main(verbosity=2)
